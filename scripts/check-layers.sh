#!/usr/bin/env bash
# Checks the include direction: each layer includes only itself and the layers below it.
#   base < blocklist < guard < maintenance < program; platform sits below all of them (the
#   address type and the span sets are its vocabulary too) and
#   includes only itself; window_logic stands alone; the window (app) sees the core and
#   window_logic; the kernel helper sees the platform layer alone; the executables and tests
#   of a layer see that layer and what lies below it; the fuzz targets see the core's layers.
# Qt headers are for the window, its tests and its bench only.
#   check-layers.sh              checks this tree
#   check-layers.sh --self-test  proves on a scratch tree that a violating include fails it
set -euo pipefail
cd "$(dirname "$0")/.."

core="base blocklist guard maintenance program platform"
declare -A allowed=(
  [src/platform]="platform"
  [src/base]="base platform"
  [src/blocklist]="base blocklist platform"
  [src/guard]="base blocklist guard platform"
  [src/maintenance]="base blocklist guard maintenance platform"
  [src/program]="$core"
  [src/window_logic]="window_logic"
  [src/headless]="$core headless"
  [src/app]="$core window_logic app"
  [src/kernel_helper]="platform"
  [tests/platform]="platform support"
  [tests/blocklist]="base blocklist platform support"
  [tests/guard]="base blocklist guard platform support"
  [tests/maintenance]="base blocklist guard maintenance platform support"
  [tests/program]="$core support"
  [tests/window_logic]="window_logic support"
  [tests/headless]="$core headless support"
  [tests/app]="$core window_logic app support"
  [tests/support]="base platform program support"
  [fuzz]="$core"
)
qt_allowed="src/app tests/app bench"

# Prints each include under $1 that runs the wrong way; fails if there is one.
check_tree() {
  local root="$1" status=0 folder file line include layer
  for folder in "${!allowed[@]}"; do
    [ -d "$root/$folder" ] || continue
    while IFS=: read -r file line include; do
      layer="${include#*\"}"
      layer="${layer%%/*}"
      case " ${allowed[$folder]} " in
        *" $layer "*) ;;
        *)
          echo "${file#"$root"/}:$line: ${include} reaches a layer $folder must not see"
          status=1
          ;;
      esac
    done < <(grep -rnE --include='*.h' --include='*.cpp' --include='*.c' \
               '^#include "[a-z_]+/' "$root/$folder" || true)
  done
  while IFS=: read -r file line include; do
    local relative="${file#"$root"/}" permitted=no place
    for place in $qt_allowed; do
      case "$relative" in "$place"/*) permitted=yes ;; esac
    done
    if [ "$permitted" = no ]; then
      echo "$relative:$line: ${include} is a Qt header outside the window"
      status=1
    fi
  done < <(grep -rnE --include='*.h' --include='*.cpp' '^#include <Q' \
             "$root/src" "$root/tests" "$root/fuzz" "$root/bench" 2>/dev/null || true)
  return "$status"
}

# Each case: a file, the include it holds, and whether the gate must pass it.
self_test() {
  local scratch failures=0 file include expected got
  scratch="$(mktemp -d)"
  trap 'rm -rf "$scratch"' RETURN
  while read -r file include expected; do
    rm -rf "${scratch:?}"/*
    mkdir -p "$scratch/$(dirname "$file")"
    echo "#include $include" >"$scratch/$file"
    got=pass
    check_tree "$scratch" >/dev/null || got=fail
    if [ "$got" != "$expected" ]; then
      echo "check-layers self-test: $file with #include $include should $expected, did $got"
      failures=1
    fi
  done <<'CASES'
src/kernel_helper/main.cpp "platform/kernel_guard.h" pass
src/kernel_helper/main.cpp "program/program.h" fail
src/kernel_helper/main.cpp "guard/kernel_blocking.h" fail
src/kernel_helper/main.cpp "base/product.h" fail
src/kernel_helper/main.cpp <QCoreApplication> fail
src/app/main.cpp "program/program.h" pass
src/app/main.cpp "window_logic/shell_icon.h" pass
src/app/main.cpp <QApplication> pass
src/app/main.cpp "headless/list_options.h" fail
src/app/main.cpp "kernel_helper/main.h" fail
tests/app/main_window_test.cpp "support/temp_dir.h" pass
tests/app/main_window_test.cpp "headless/console_host.h" fail
src/platform/tcp_table.cpp "blocklist/ban_table.h" fail
src/headless/main.cpp <QObject> fail
src/program/program.cpp "app/main_window.h" fail
CASES
  [ "$failures" -eq 0 ] && echo "check-layers self-test: every case as expected"
  return "$failures"
}

if [ "${1:-}" = --self-test ]; then
  self_test
  exit $?
fi
status=0
check_tree "$PWD" || status=1
[ "$status" -eq 0 ] && echo "check-layers: every include runs downwards"
exit "$status"
