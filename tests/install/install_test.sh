#!/usr/bin/env bash
# Checks what `cmake --install` and the Debian package deliver, from a built tree.
#   install_test.sh CHECK BUILD_DIR PREFIX WITH_WINDOW WITH_KERNEL_HELPER
# CHECK is one of: files, validate, unit, package. Each check stages its own
# install, so the checks can run side by side. Exit 77 means skipped, with the
# reason printed; any other non-zero status is a failure.
set -euo pipefail

check="$1"
build="$2"
prefix="${3#/}"  # relative, as it appears under a staging folder and in the package
with_window="$4"
with_kernel="$5"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
skip() {
  echo "SKIPPED: $*"
  exit 77
}

# Every file the install must place, relative to the root it lands in.
expected=(
  "$prefix/bin/bastionwatch-headless"
  "$prefix/share/bastionwatch/examples/Moatlist.P2P"
  "$prefix/lib/systemd/system/bastionwatch-headless.service"
)
if [ "$with_window" = 1 ]; then
  expected+=(
    "$prefix/bin/bastionwatch"
    "$prefix/share/applications/org.example.bastionwatch.desktop"
    "$prefix/share/metainfo/org.example.bastionwatch.metainfo.xml"
  )
  for size in 16 22 24 32 48 64 128 256; do
    expected+=("$prefix/share/icons/hicolor/${size}x${size}/apps/bastionwatch.png")
  done
fi
if [ "$with_kernel" = 1 ]; then
  expected+=("$prefix/libexec/bastionwatch/bastionwatch-kernel")
fi

stage() {
  DESTDIR="$work/stage" cmake --install "$build" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "cmake --install failed"; }
}

# The package's post-install step, run as dpkg runs it, against the package's own
# files: stand-ins for the commands that change accounts, modes and capabilities
# write what they were asked into a log instead. Capabilities go to the kernel
# helper alone, and only once it is root:bastionwatch with mode 0750; the console
# guard's are taken back, never granted; the step succeeds where the file system
# keeps no capabilities.
check_postinst() {
  local deb="$1" root="$work/root" stubs="$work/stubs" log="$work/commands.log"
  dpkg-deb -x "$deb" "$root"
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst >"$work/postinst"
  # The step names the installed paths; here they lead into the unpacked package.
  sed "s|=\"/$prefix/|=\"$root/$prefix/|" "$work/postinst" >"$work/postinst.here"
  mkdir "$stubs"
  cat >"$stubs/stub" <<'STUB'
#!/bin/sh
echo "${0##*/} $*" >>"$STUB_LOG"
case "${0##*/} $1" in
getent*) [ "$STUB_ACCOUNTS" = present ] ;;
"setcap -r") exit "$STUB_REMOVE" ;;
setcap*) exit "$STUB_GRANT" ;;
esac
STUB
  chmod 0755 "$stubs/stub"
  for command in setcap getcap chown chmod groupadd useradd getent systemctl; do
    ln -s stub "$stubs/$command"
  done
  local helper="$root/$prefix/libexec/bastionwatch/bastionwatch-kernel"
  local guard="$root/$prefix/bin/bastionwatch-headless"
  local row name accounts grant remove old arguments line chowned chmodded grants at
  # name, the accounts already there, setcap's status for a grant and for -r (a
  # file without capabilities fails -r), the version upgraded from.
  local cases=(
    "fresh absent 0 1 -"
    "upgrade present 0 0 1.98"
    "no-xattrs absent 1 1 -"
  )
  for row in "${cases[@]}"; do
    read -r name accounts grant remove old <<<"$row"
    : >"$log"
    arguments=(configure)
    [ "$old" = - ] || arguments+=("$old")
    # Nothing but the stand-ins on PATH: any other command the step runs fails it.
    env -i PATH="$stubs" STUB_LOG="$log" STUB_ACCOUNTS="$accounts" STUB_GRANT="$grant" \
      STUB_REMOVE="$remove" /bin/sh "$work/postinst.here" "${arguments[@]}" ||
      fail "$name: postinst configure failed"
    echo "$name: postinst ran:"
    cat "$log"
    chowned=0 chmodded=0 grants=0 at=0
    while read -r line; do
      at=$((at + 1))
      case "$line" in
      "chown root:bastionwatch $helper") chowned=$at ;;
      "chmod 0750 $helper") chmodded=$at ;;
      "setcap cap_bpf,cap_net_admin+ep $helper")
        if [ "$chowned" -eq 0 ] || [ "$chmodded" -eq 0 ]; then
          fail "$name: the helper got capabilities before it was root:bastionwatch 0750"
        fi
        grants=$((grants + 1))
        ;;
      "setcap -r $guard") ;;
      setcap*) fail "$name: capabilities for what may not hold them: $line" ;;
      esac
    done <"$log"
    [ "$grants" -eq "$with_kernel" ] || fail "$name: $grants grants to the kernel helper"
  done
}

case "$check" in
files)
  stage
  for file in "${expected[@]}"; do
    [ -f "$work/stage/$file" ] || fail "cmake --install did not place $file"
    echo "installed: $file"
  done
  for exe in bastionwatch-headless bastionwatch; do
    file="$work/stage/$prefix/bin/$exe"
    [ ! -e "$file" ] || [ -x "$file" ] || fail "$file is not executable"
  done
  if [ "$with_kernel" = 1 ]; then
    mode="$(stat -c %a "$work/stage/$prefix/libexec/bastionwatch/bastionwatch-kernel")"
    [ "$mode" = 750 ] || fail "the kernel helper's mode is $mode, not 750"
  fi
  desktop="$work/stage/$prefix/share/applications/org.example.bastionwatch.desktop"
  if [ "$with_window" = 1 ]; then
    grep -qx 'MimeType=x-scheme-handler/bwdat;' "$desktop" || fail "the menu entry lost the bwdat scheme"
    grep -qx "Exec=/$prefix/bin/bastionwatch %u" "$desktop" || fail "the menu entry starts the wrong program"
  fi
  unit="$work/stage/$prefix/lib/systemd/system/bastionwatch-headless.service"
  grep -qx "ExecStart=/$prefix/bin/bastionwatch-headless" "$unit" || fail "the unit starts the wrong program"
  # The console guard holds no file capabilities: the service's two come from its unit.
  for line in "AmbientCapabilities=CAP_BPF CAP_NET_ADMIN" "CapabilityBoundingSet=CAP_BPF CAP_NET_ADMIN" \
    "NoNewPrivileges=true"; do
    grep -qx "$line" "$unit" || fail "the unit lacks $line"
  done
  ;;

validate)
  [ "$with_window" = 1 ] || skip "built without the window, so no menu entry and no metainfo"
  command -v desktop-file-validate >/dev/null || fail "desktop-file-validate missing (desktop-file-utils)"
  command -v appstreamcli >/dev/null || fail "appstreamcli missing (appstream)"
  stage
  desktop-file-validate "$work/stage/$prefix/share/applications/org.example.bastionwatch.desktop" ||
    fail "desktop-file-validate refused the menu entry"
  appstreamcli validate --no-net --pedantic \
    "$work/stage/$prefix/share/metainfo/org.example.bastionwatch.metainfo.xml" ||
    fail "appstreamcli refused the metainfo"
  ;;

unit)
  command -v systemd-analyze >/dev/null || fail "systemd-analyze missing (systemd)"
  stage
  # verify checks that ExecStart= names an executable, so the staged copy stands in
  # for the installed one; nothing else in the unit changes.
  installed="/$prefix/bin/bastionwatch-headless"
  sed "s|^ExecStart=$installed\$|ExecStart=$work/stage$installed|" \
    "$work/stage/$prefix/lib/systemd/system/bastionwatch-headless.service" \
    >"$work/bastionwatch-headless.service"
  grep -q "^ExecStart=$work/stage" "$work/bastionwatch-headless.service" ||
    fail "the unit's ExecStart= is not $installed"
  # A unit known to be good first: where that fails, this machine cannot verify units.
  printf '[Service]\nExecStart=/bin/true\n' >"$work/known-good.service"
  if ! probe="$(systemd-analyze verify "$work/known-good.service" 2>&1)" || [ -n "$probe" ]; then
    skip "systemd-analyze cannot verify units here: ${probe:-it failed without a message}"
  fi
  out="$(systemd-analyze verify "$work/bastionwatch-headless.service" 2>&1)" ||
    fail "systemd-analyze verify refused the unit: $out"
  [ -z "$out" ] || fail "systemd-analyze verify complained: $out"
  echo "systemd-analyze verify accepts bastionwatch-headless.service"
  ;;

package)
  command -v dpkg-deb >/dev/null || fail "dpkg-deb missing"
  (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") \
    >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
  shopt -s nullglob
  debs=("$work"/out/bastionwatch_*.deb)
  [ ${#debs[@]} -eq 1 ] || fail "expected one bastionwatch_*.deb, found ${#debs[@]}"
  deb="${debs[0]}"
  info="$(dpkg-deb --info "$deb")"
  echo "$info"
  depends="$(dpkg-deb --field "$deb" Depends)"
  wanted=(libc6 libstdc++6 libcurl4 libcap2-bin passwd)
  [ "$with_window" = 1 ] && wanted+=(libqt6widgets6 qt6-qpa-plugins)
  for dependency in "${wanted[@]}"; do
    [[ ", $depends," == *", $dependency"[\ ,]* ]] || fail "Depends lacks $dependency: $depends"
  done
  for script in postinst prerm postrm; do
    grep -q "^ *[0-9]* bytes, *[0-9]* lines *\* *$script " <<<"$info" ||
      fail "the package has no executable $script"
  done
  contents="$(dpkg-deb --contents "$deb")"
  echo "$contents"
  for file in "${expected[@]}"; do
    grep -q " \./$file\$" <<<"$contents" || fail "the package lacks $file"
  done
  # Anyone may run a file whose mode has o+x, so no such file may be one that
  # gets capabilities: the kernel helper is for root and its group alone.
  helper="$prefix/libexec/bastionwatch/bastionwatch-kernel"
  while read -r mode _ _ _ _ path; do
    if [[ "$mode" == -????????x ]]; then
      [ "$path" != "./$helper" ] || fail "any user may run the kernel helper: $mode"
    fi
    if [ "$path" = "./$helper" ]; then
      [ "$mode" = -rwxr-x--- ] || fail "the kernel helper's mode is $mode, not 0750"
    fi
  done <<<"$contents"
  check_postinst "$deb"
  ;;

*)
  fail "unknown check $check"
  ;;
esac
echo "PASS: $check"
