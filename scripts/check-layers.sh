#!/usr/bin/env bash
# Checks the include direction: each layer includes only itself and the layers below it.
#   base < blocklist < guard < maintenance < program; platform sits below all of them and
#   includes only itself; window_logic stands alone; the executables and tests of a layer
#   see that layer and what lies below it; the fuzz targets see the core's layers.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [src/platform]="platform"
  [src/base]="base"
  [src/blocklist]="base blocklist"
  [src/guard]="base blocklist guard platform"
  [src/maintenance]="base blocklist guard maintenance platform"
  [src/program]="base blocklist guard maintenance program platform"
  [src/window_logic]="window_logic"
  [src/headless]="base blocklist guard maintenance program platform headless"
  [tests/platform]="platform support"
  [tests/blocklist]="base blocklist platform support"
  [tests/guard]="base blocklist guard platform support"
  [tests/maintenance]="base blocklist guard maintenance platform support"
  [tests/program]="base blocklist guard maintenance program platform support"
  [tests/window_logic]="window_logic support"
  [tests/headless]="base blocklist guard maintenance program platform headless support"
  [tests/support]="base platform program support"
  [fuzz]="base blocklist guard maintenance program platform"
)

status=0
for folder in "${!allowed[@]}"; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file line include; do
    layer="${include#*\"}"
    layer="${layer%%/*}"
    case " ${allowed[$folder]} " in
      *" $layer "*) ;;
      *)
        echo "$file:$line: ${include} reaches a layer $folder must not see"
        status=1
        ;;
    esac
  done < <(grep -rnE --include='*.h' --include='*.cpp' --include='*.c' \
             '^#include "[a-z_]+/' "$folder" || true)
done
[ "$status" -eq 0 ] && echo "check-layers: every include runs downwards"
exit "$status"
