#!/usr/bin/env bash
# Installs what is missing, builds Quorvane and starts it. With --virtual-display it starts it
# under a virtual X server, for a machine without a desktop, and says how to reach it.
# shellcheck source=scripts/common.sh
source "$(dirname "$0")/common.sh"

need=run
[ "${1:-}" = --virtual-display ] && need=virtual
install_deps "$need"
configure_release
cmake --build "$release" --target quorvane quorvane-batch
program=$release/lib/quorvane/quorvane
if [ "$need" = virtual ]; then
    # xvfb-run picks a free display and hands it over in DISPLAY and XAUTHORITY; its authority
    # file is kept in the build, so that stopping it leaves nothing in /tmp.
    own_runtime_dir
    say='echo "run.sh: Quorvane runs on display $DISPLAY, authority file $XAUTHORITY;'
    say+=' Ctrl+C here or kill $$ stops it"'
    exec xvfb-run -a -f "$PWD/$release/Xauthority" -s "-screen 0 1024x768x24" \
        bash -c "$say; exec \"\$0\"" "$program"
fi
exec "$program"
