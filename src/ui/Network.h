// The wired network settings of /etc/network/interfaces: read at start-up, shown
// on the status page, edited in the menu and written back.
#pragma once

#include "core/Shared.h"

#include <cstdint>

// The addresses as the file gives them and the status page shows them, their
// octets as the menu edits them (with the cursor of each address's entry), and
// whether the file names no gateway or DNS. Read at start-up (main), edited by
// the keys; the storage thread writes them back.
struct LanSettings {
    SharedText<32> IP, NetMask, Gateway, DNS, MAC;
    Shared<uint8_t> IP_v[4], NetMask_v[4], Gateway_v[4], DNS_v[4];
    Shared<uint8_t> Gateway_none, DNS_none;
    Shared<int> CntIP, CntDNS, CntNetMask, CntGateway;
};
extern LanSettings lan;

// 0, or -1 when the file cannot be opened.
int ReadLanParam();
// -1 when the file system or the file cannot be written; else the status of the
// interface restart. It remounts / and restarts the interfaces: the menu has the
// storage thread run it.
int SaveLanParam();
// "a.b.c.d" into (at most) four octets, and back.
void SplitAddr(const char* text, Shared<uint8_t>* octets);
void SplitAddrInv(char* text, int size, const Shared<uint8_t>* octets);
// Address editing in the menu: MINUS/PLUS change the octet under the cursor
// (wrapping within 0..255), LEFT/RIGHT move the cursor (wrapping); returns the
// new cursor.
int ModifyIP(int action, int cursor, Shared<uint8_t>* octets);
