// The WebSocket server and client threads of remote operation.
#pragma once

struct Works;

void Wsocket(Works* works);
void Wclient(Works* works);
