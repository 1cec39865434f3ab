#!/bin/sh
# Runs COMMAND beside a systemd user manager of its own:
#   with-user-systemd.sh DIR COMMAND...
# The manager runs in a private mount namespace whose /run/systemd says the
# system booted with systemd (this machine's init may be another), so nothing
# outside the namespace changes. DIR holds its runtime folder (run/), its unit
# folder (config/systemd/user/) and its log (manager.log). Exit 77 when no
# manager can run here; else COMMAND's status. Needs root (mount namespaces).
set -u
dir=$1
shift

if [ -z "${WITH_USER_SYSTEMD_NS:-}" ]; then
    command -v unshare >/dev/null && [ -x /lib/systemd/systemd ] || exit 77
    WITH_USER_SYSTEMD_NS=1 exec unshare -m --propagation private "$0" "$dir" "$@"
    exit 77
fi

mount -t tmpfs tmpfs /run/systemd 2>/dev/null || mount -t tmpfs tmpfs /run || exit 77
mkdir -p /run/systemd/system "$dir/run" "$dir/config/systemd/user"
chmod 700 "$dir/run"
export XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/config"
/lib/systemd/systemd --user --log-target=console --log-level=info >"$dir/manager.log" 2>&1 &
manager=$!

up=no
for _ in $(seq 100); do
    if systemctl --user is-system-running >/dev/null 2>&1; then up=yes; break; fi
    state=$(systemctl --user is-system-running 2>/dev/null)
    [ "$state" = degraded ] && { up=yes; break; }
    kill -0 "$manager" 2>/dev/null || break
    sleep 0.1
done
if [ "$up" != yes ]; then
    kill "$manager" 2>/dev/null
    wait "$manager" 2>/dev/null
    exit 77
fi

"$@"
status=$?
systemctl --user exit >/dev/null 2>&1 || kill "$manager" 2>/dev/null
wait "$manager" 2>/dev/null
exit $status
