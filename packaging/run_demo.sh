#!/bin/sh
# Runs trackhost against the simulated tracker SDK of this folder. Only this
# script points the module at the folder (TARSIS_SDK_DIR, the one folder it
# then loads the SDK from): the module itself stays free to find the maker's
# real SDK. With no arguments it runs the example tracker:
#   simulator/run_demo.sh
#   simulator/run_demo.sh --cycles 50 examples/brevik.cfg   (with OTK_SIM="type=brevik")
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
TARSIS_SDK_DIR="$here"
export TARSIS_SDK_DIR
if [ $# -eq 0 ]; then
    set -- --cycles 20 "$top/examples/tarsis.cfg"
fi
exec "$top/bin/trackhost" "$@"
