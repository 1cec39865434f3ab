// The services a subsystem may start, and the remote services' switch.
//
// Threads belong to the top layer, which starts them at start-up. A key, a
// menu, a bank change or an alarm reset also starts one (a retry of a failed
// port, the transceiver's link for a bank in its mode): the top layer hands
// the starters down through this table at start-up, so no subsystem reaches up
// into it.
#pragma once

#include <functional>

struct Works;

enum class Service {
    Linear,     // the amplifier link
    Socket,     // the remote link's server or client, by the setup
    TrxSerial,  // the transceiver's serial link
    Ft817,      // the FT-817 poll
    AudioWrite, // remote audio playback
    AudioRead,  // remote audio capture
    CatRelay,   // the CAT relay to the transceiver
    UsbRx,      // the USB receiver's spectrum
    Hamlib,     // the Hamlib rig poll
    Ampctl,     // the amplifier protocol's server, when AmpctlPort is not 0
};

// What SwitchRemoteServices does with the four remote services (audio write,
// audio read, CAT relay, spectrum).
enum class RemoteSwitch {
    Resume,  // start-up in remote operation: those whose flag is on start, then On
    On,      // those that are off start, and the setup file says all are on
    Off,     // all four end, and the setup file says they are off
    Restart, // after a failure the reset key asked for: those that turned themselves off start again
};

// Threads a subsystem needs for work of its own: a connection that has not yet
// given its code (one slot each, `index` 0..kPeerJobs-1), the transmit guard
// after a console leaves, the transmit guard at a remote transmission's time
// limit. The top layer keeps their slots; the subsystem hands it the work.
enum class Job { Peer, WebGuard, TxLimit };
constexpr int kPeerJobs = 5;

struct ServiceHooks {
    void (*start)(Works* works, Service service);
    void (*remote)(Works* works, RemoteSwitch how);
    bool (*startJob)(Job job, int index, std::function<void()> body);
    void (*stopJob)(Job job, int index);
};

// The top layer's starters; until they are set a start is logged and skipped.
void SetServiceHooks(const ServiceHooks* hooks);
// Starts `service` as its starter does: nothing when its setup flag is off.
void StartService(Works* works, Service service);
// The one switch of the remote services; every caller goes through it.
void SwitchRemoteServices(Works* works, RemoteSwitch how);
// Runs `body` on the job's thread (a start while it runs restarts it: the old
// one is asked to end first); false when it could not be started (logged).
bool StartJob(Job job, int index, std::function<void()> body);
// Asks the job's thread to end and waits for it.
void StopJob(Job job, int index);
