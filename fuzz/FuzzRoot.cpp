#include "FuzzRoot.h"

#include "amp/Alarms.h"
#include "core/Setup.h"
#include "core/Works.h"
#include "devsim/SimRoot.h"
#include "platform/Clock.h"
#include "platform/Root.h"
#include "trx/Serial.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

namespace {

std::string g_dir;

void removeRoot() {
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
}

} // namespace

Works* FuzzWorks() {
    static Works* w = [] {
        char tmpl[] = "/tmp/panel-fuzz-XXXXXX";
        if (!mkdtemp(tmpl)) {
            std::perror("fuzz: mkdtemp");
            std::exit(2);
        }
        g_dir = tmpl;
        std::atexit(removeRoot);
        std::string err;
        if (!SimRootCreate(g_dir, SimRootOptions{}, &err)) {
            std::fprintf(stderr, "fuzz: %s\n", err.c_str());
            std::exit(2);
        }
        plat_set_root(g_dir.c_str());
        plat_skip_sleeps(true);
        auto* works = new Works();
        works->setup = new SetupRecord();
        works->serMut = new std::mutex();
        works->wsSendMut = new std::mutex();
        works->trxParams = new TrxParameters{};
        InitGlobalVar(works);
        InitErrorTable(works);
        initSetup(works);
        return works;
    }();
    return w;
}
