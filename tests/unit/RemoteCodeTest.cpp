// The unit's access code: drawn from the random source over the 32 symbols,
// kept in a private remote.txt, refused and replaced when its line is wrong,
// edited symbol by symbol in the menu and drawn anew by the menu's service
// action. The code never reaches the log.
#include "RootedWorks.h"

#include "core/KeyLabels.h"
#include "core/RemoteCode.h"
#include "ui/KeyActions.h"
#include "ui/Menu.h"

#include <cstdio>
#include <set>
#include <sys/stat.h>
#include <tuple>

namespace {

constexpr int kCodeEntry = 27;
constexpr int kNewCodeEntry = 28;

class RemoteCode : public RootedWorks {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RootedWorks::SetUp());
        w->startupFlags.replace(0);
        std::remove(path().c_str()); // every case says what the unit finds
    }
    std::string path() const { return dir.path + "/opt/set/remote.txt"; }
    std::string file() const { return ReadFile(path()); }
    // The file's permission bits; -1 when there is none.
    int mode() const { return FileMode(path()); }
    void put(const std::string& text, mode_t m = 0600) {
        ASSERT_TRUE(WriteFile(path(), text));
        ASSERT_EQ(chmod(path().c_str(), m), 0);
    }
    std::string code() const { return w->remotePassword.get().s; }
    // The code in use, then remote.txt.
    std::string saved() const { return code() + " " + file(); }
    // The code of a well-formed file; "" otherwise.
    std::string fileCode() const {
        const std::string f = file();
        if (f.size() != 19 || f.rfind("Code: ", 0) != 0 || f.back() != '\n') return "";
        return f.substr(6, 12);
    }
    std::string mountState() const { return ReadFile(dir.path + "/sim/opt-set.mount"); }
    int act(int entry, int action) {
        w->pages.menuEntry = entry;
        return ModifyParameter(w.get(), action);
    }
    std::string shown(int entry) {
        char text[64];
        LoadParameterMenu(w.get(), text, sizeof text, entry, 0);
        return text;
    }
};

// Stepping goes through the set in its order, over the letters left out; draws
// are valid, differ, and reach every symbol of the set.
TEST_F(RemoteCode, SymbolsStepThroughTheSetAndDrawsReachEveryOne) {
    // 'x' is outside the set: the first symbol.
    const std::tuple<char, int, char> steps[] = {{'H', 1, 'J'},  {'N', 1, 'P'},   {'Z', 1, '2'},
                                                 {'9', 1, 'A'},  {'A', -1, '9'},  {'2', -1, 'Z'},
                                                 {'K', 32, 'K'}, {'K', -33, 'J'}, {'x', 0, 'A'}};
    for (const auto& [from, step, to] : steps)
        EXPECT_EQ(RemoteCodeSymbolAfter(from, step), to) << from << " " << step;

    // 100 draws: 1200 symbols. Each of the 32 is missing from them with a
    // chance of about e^-38; a symbol never drawn means a wrong mapping.
    std::set<char> seen;
    for (int i = 0; i < 100; i++) {
        const std::string code = RemoteCodeDraw();
        EXPECT_TRUE(RemoteCodeValid(code.c_str())) << code;
        seen.insert(code.begin(), code.end());
    }
    EXPECT_EQ(seen.size(), 32u);
}

TEST_F(RemoteCode, AValidFileIsKeptAsItIsAndMadePrivate) {
    for (const std::string& text :
         {std::string("Code: ABCDEFGH2345\n"), std::string("Code: ABCDEFGH2345\r\n"),
          std::string("Code: ABCDEFGH2345")}) {
        SCOPED_TRACE(text);
        ASSERT_NO_FATAL_FAILURE(put(text));
        w->remotePassword.set("");
        EXPECT_TRUE(LoadRemoteCode(w.get()));
        EXPECT_EQ(code(), "ABCDEFGH2345");
        EXPECT_EQ(file(), text); // not even rewritten
        EXPECT_EQ(mode(), 0600);
    }
    EXPECT_EQ(FindLine(commands(), "mount -o remount defaults,rw /opt/set"), -1);
    EXPECT_FALSE(Contains(syslog(), "remote: ")) << syslog();
    // Of another mode: the code kept, the file made private.
    ASSERT_NO_FATAL_FAILURE(put("Code: ABCDEFGH2345\n", 0644));
    EXPECT_TRUE(LoadRemoteCode(w.get()));
    EXPECT_EQ(saved(), "ABCDEFGH2345 Code: ABCDEFGH2345\n");
    EXPECT_EQ(mode(), 0600);
    EXPECT_TRUE(Contains(syslog(), "3 remote: remote.txt was mode 0644, rewritten 0600"))
        << syslog();
}

// No file, or a line refused: a new code, in a private file written between
// the remounts; the log says why, never the code.
TEST_F(RemoteCode, AMissingFileOrARefusedLineIsReplacedByANewCode) {
    const char* const bad[] = {
        nullptr,                  // no file (the first case: SetUp removed it)
        "Code: ABCDEFGH234\n",    // 11 symbols
        "Code: ABCDEFGH23456\n",  // 13
        "Code: ABCDEFGHI345\n",   // I, not of the set
        "Code: abcdefgh2345\n",   // lower case
        "code: ABCDEFGH2345\n",   // another key
        "Code: ABCDEFGH2345\n\n", // a second line
        "Code: ABCDEFGH2345\r",   // CR alone
        "",                       // empty
    };
    size_t refusals = 0;
    for (const char* text : bad) {
        SCOPED_TRACE(text ? text : "no file");
        if (text) {
            ASSERT_NO_FATAL_FAILURE(put(text));
        }
        w->remotePassword.set("");
        EXPECT_TRUE(LoadRemoteCode(w.get()));
        const std::string c = fileCode();
        EXPECT_TRUE(RemoteCodeValid(c.c_str())) << file();
        EXPECT_NE(c, "ABCDEFGH2345");
        EXPECT_EQ(code(), c);
        EXPECT_EQ(mode(), 0600);
        EXPECT_EQ(mountState(), "ro\n");
        const std::string log = syslog();
        EXPECT_EQ(CountOf(log, "3 remote: remote.txt line refused, a new code drawn"),
                  text ? ++refusals : 0);
        EXPECT_EQ(CountOf(log, "6 remote: no remote.txt, a new code drawn"), 1u);
        EXPECT_FALSE(Contains(log, c));
    }
}

TEST_F(RemoteCode, SaveWritesTheFileAndRefusesWhatIsNotACode) {
    ASSERT_NO_FATAL_FAILURE(put("Code: ABCDEFGH2345\n"));
    ASSERT_TRUE(LoadRemoteCode(w.get()));
    EXPECT_TRUE(SaveRemoteCode(w.get(), "ZYXW98765432"));
    EXPECT_EQ(saved(), "ZYXW98765432 Code: ZYXW98765432\n");

    for (const char* bad : {"ZYXW9876543", "zyxw98765432", "ZYXW98765430", ""}) {
        EXPECT_FALSE(SaveRemoteCode(w.get(), bad)) << bad;
        EXPECT_EQ(saved(), "ZYXW98765432 Code: ZYXW98765432\n");
    }
    EXPECT_FALSE(SaveRemoteCode(w.get(), nullptr));

    // A refused remount leaves file and code as they were.
    ASSERT_TRUE(SimWriteScript(dir.path, "/bin/mount", "exit 1\n"));
    EXPECT_FALSE(SaveRemoteCode(w.get(), "ABCDEFGH2345"));
    EXPECT_EQ(saved(), "ZYXW98765432 Code: ZYXW98765432\n");
    EXPECT_TRUE(Contains(syslog(), "3 remote: remote.txt not written")) << syslog();
    EXPECT_FALSE(Contains(syslog(), "ZYXW98765432"));
}

TEST_F(RemoteCode, TheCodeEntryEditsTheSymbolUnderTheCursorAndSavesOnEnter) {
    ASSERT_NO_FATAL_FAILURE(put("Code: ABCDEFGH2345\n"));
    ASSERT_TRUE(LoadRemoteCode(w.get()));
    w->pages.menuEntry = kCodeEntry;
    EXPECT_TRUE(MenuItemLeftRight(w.get())); // the arrows are offered
    EXPECT_EQ(shown(kCodeEntry), "ABCDEFGH2345");

    std::vector<std::string> trail;
    for (int a : {kMenuPlus, kMenuPlus, kMenuMinus, kMenuRight, kMenuRight, kMenuMinus, kMenuLeft,
                  kMenuLeft, kMenuLeft, kMenuPlus, kMenuPlus, kMenuRight, kMenuMinus, kMenuMinus}) {
        EXPECT_EQ(act(kCodeEntry, a), 0) << a; // nothing repeats
        trail.push_back(shown(kCodeEntry));
    }
    EXPECT_EQ(trail, (std::vector<std::string>{"BBCDEFGH2345", "CBCDEFGH2345", "BBCDEFGH2345",
                                               "BBCDEFGH2345", "BBCDEFGH2345", "BBBDEFGH2345",
                                               "BBBDEFGH2345", "BBBDEFGH2345", "BBBDEFGH2345",
                                               "BBBDEFGH2346", "BBBDEFGH2347", "BBBDEFGH2347",
                                               "ABBDEFGH2347", "9BBDEFGH2347"}));
    // Until ENTER the code in use and its file stay.
    EXPECT_EQ(saved(), "ABCDEFGH2345 Code: ABCDEFGH2345\n");
    act(kCodeEntry, kMenuEnter);
    EXPECT_EQ(saved(), "9BBDEFGH2347 Code: 9BBDEFGH2347\n");
    EXPECT_EQ(shown(kCodeEntry), "9BBDEFGH2347");
    EXPECT_FALSE(Contains(syslog(), "9BBDEFGH2347"));

    // The next edit starts again at the first symbol, and ENTER without an edit
    // writes nothing.
    act(kCodeEntry, kMenuPlus);
    EXPECT_EQ(shown(kCodeEntry), "ABBDEFGH2347");
    act(kCodeEntry, kMenuEnter);
    std::remove(path().c_str());
    act(kCodeEntry, kMenuEnter);
    EXPECT_FALSE(FileExists(path()));
    EXPECT_EQ(code(), "ABBDEFGH2347");

    // No code yet (the file could not be written): the edit starts from A's.
    MenuEditStarts(w.get());
    w->remotePassword.set("");
    EXPECT_EQ(shown(kCodeEntry), "");
    act(kCodeEntry, kMenuMinus);
    EXPECT_EQ(shown(kCodeEntry), "9AAAAAAAAAAA");
    act(kCodeEntry, kMenuEnter);
    EXPECT_EQ(saved(), "9AAAAAAAAAAA Code: 9AAAAAAAAAAA\n");
}

TEST_F(RemoteCode, TheServiceEntryDrawsANewCodeOnceArmed) {
    ASSERT_NO_FATAL_FAILURE(put("Code: ABCDEFGH2345\n"));
    ASSERT_TRUE(LoadRemoteCode(w.get()));
    EXPECT_EQ(shown(kNewCodeEntry), "ABCDEFGH2345");
    act(kNewCodeEntry, kMenuEnter); // not armed: nothing
    EXPECT_EQ(file(), "Code: ABCDEFGH2345\n");
    act(kNewCodeEntry, kMenuPlus);
    EXPECT_EQ(shown(kNewCodeEntry), "New code?");
    act(kNewCodeEntry, kMenuMinus); // any action switches it back
    EXPECT_EQ(shown(kNewCodeEntry), "ABCDEFGH2345");
    act(kNewCodeEntry, kMenuRight);
    EXPECT_EQ(act(kNewCodeEntry, kMenuEnter), 0);
    const std::string c = fileCode();
    EXPECT_TRUE(RemoteCodeValid(c.c_str())) << file();
    EXPECT_NE(c, "ABCDEFGH2345");
    EXPECT_EQ(code(), c);
    EXPECT_EQ(shown(kNewCodeEntry), c); // disarmed, showing the new code
    EXPECT_EQ(shown(kCodeEntry), c);
    const std::string log = syslog();
    EXPECT_TRUE(Contains(log, "6 remote: a new code drawn")) << log;
    EXPECT_FALSE(Contains(log, c));
    // Once only: ENTER again leaves it.
    act(kNewCodeEntry, kMenuEnter);
    EXPECT_EQ(fileCode(), c);
}

// The same through the panel keys: SET, up six times to the code entry, ENTER,
// then the editing keys (2 <, 3 >, 4 -, 5 +, 6 ENTER).
class RemoteCodeKeys : public RemoteCode {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RemoteCode::SetUp());
        usePicture(dir.path);
    }
    int press(int key) { return DecodeTasto(w.get(), key, 0); }
};

TEST_F(RemoteCodeKeys, EditedAndSavedWithThePanelKeys) {
    ASSERT_NO_FATAL_FAILURE(put("Code: ABCDEFGH2345\n"));
    ASSERT_TRUE(LoadRemoteCode(w.get()));
    press(5); // SET
    for (int i = 0; i < 8; i++)
        press(3); // up: from the first entry round past the rig's and the service actions
    EXPECT_EQ(w->pages.menuEntry, kNewCodeEntry);
    press(3);
    ASSERT_EQ(w->pages.menuEntry, kCodeEntry);
    press(6);
    ASSERT_EQ(w->pages.keyPage, kPageMenuEdit);
    for (int key : {5, 3, 3, 4, 4, 2, 2, 2, 5})
        press(key);
    press(6); // ENTER saves and goes back to choosing
    EXPECT_EQ(w->pages.keyPage, kPageMenuChoose);
    EXPECT_EQ(saved(), "BBADEFGH2346 Code: BBADEFGH2346\n");

    // Left on the editing page by an error, the half-made edit is not saved later.
    press(6);
    press(5);
    EXPECT_EQ(shown(kCodeEntry), "CBADEFGH2346");
    w->pages.keyPage = kPageMain;
    press(5);
    EXPECT_EQ(w->pages.keyPage, kPageMenuChoose);
    EXPECT_EQ(shown(kCodeEntry), "BBADEFGH2346"); // the code in use, not the half edit
    press(6);
    EXPECT_EQ(shown(kCodeEntry), "BBADEFGH2346");
    press(6);
    EXPECT_EQ(file(), "Code: BBADEFGH2346\n");
}

} // namespace
