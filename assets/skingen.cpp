// Draws the panel skins (placeholder until the generator is written).
int main() { return 1; }
