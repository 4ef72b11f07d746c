#!/usr/bin/env bash
# The installer packages under Wine, in a prefix of their own: the version
# resources, a per-machine install and a check through the installed server,
# an upgrade from an older build, the registry against the server's own
# registration at the same path, a removal that leaves nothing behind, and
# the per-user package.
# Usage: tests/package/package_test.sh   (scripts/test.sh package runs it)
set -euo pipefail
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
here=tests/package
work=$root/build/package-test
old_version=1.0.0

# The older build first: the build tree is left at the project's version.
empty_dir "$work"
scripts/package.sh --version "$old_version" --output "$work/old" >/dev/null
scripts/package.sh >/dev/null
cmake --build build/win --target qel_version_resource_probe >/dev/null
version=$(sed -n 's/^#define QEL_VERSION_TEXT "\(.*\)"$/\1/p' build/win/generated/qel_version.h)
machine_msi=build/package/QELUpdateCheck-$version-x64.msi
user_msi=build/package/QELUpdateCheck-$version-x64-peruser.msi
old_msi=$work/old/QELUpdateCheck-$old_version-x64.msi

source scripts/wine_env.sh
export WINEPREFIX=$work/wine
wineboot -i >/dev/null 2>&1 || true
wineserver -w
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
wine cmd /c exit >/dev/null 2>&1 || true

win() { echo "Z:${1//\//\\}"; }
# Wine's helper processes must not hold the caller's pipes open.
quiet() { "$@" </dev/null >"$work/last.log" 2>&1; }
export_key() { quiet wine reg export "$1" "$(win "$2")" /y; }
files() { (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print | sort); }
probe() { wine build/win/tests/qel_version_resource_probe.exe "$@" </dev/null 2>&1; }
# Left by Wine's installer after a removal; and the empty 32-bit Interface
# key of a fresh prefix (seen through two names), which it removes.
wine_empty_keys=(
  --empty 'HKEY_LOCAL_MACHINE\Software\Classes\Installer'
  --empty 'HKEY_LOCAL_MACHINE\Software\Classes\Installer\Features'
  --empty 'HKEY_LOCAL_MACHINE\Software\Classes\Installer\Products'
  --empty 'HKEY_LOCAL_MACHINE\Software\Classes\Installer\UpgradeCodes'
  --empty 'HKEY_LOCAL_MACHINE\Software\Classes\Wow6432Node\Interface'
  --empty 'HKEY_LOCAL_MACHINE\Software\Wow6432Node\Classes\Interface')
same_registry() { "$here/reg_compare.py" "$@" "${wine_empty_keys[@]}"; }
same_files() { files | diff "$1" -; }
# ASLR, high-entropy ASLR and DEP in the PE header, stack protection in the
# code, and no DLL imported but Windows' own.
windows_dlls=' ADVAPI32 KERNEL32 MSVCRT OLE32 OLEAUT32 SHELL32 USER32 VERSION WININET '
hardened() {
  local header flag dll protected
  header=$(x86_64-w64-mingw32-objdump -p "$1")
  for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
    grep -qw "$flag" <<<"$header" || { echo "no $flag"; return 1; }
  done
  while read -r dll; do
    [[ $windows_dlls == *" ${dll^^} "* ]] || { echo "imports $dll.dll"; return 1; }
  done < <(sed -n 's/^\tDLL Name: \(.*\)\.dll$/\1/Ip' <<<"$header")
  protected=$(x86_64-w64-mingw32-objdump -d "$1" | grep -c 'call.*<__stack_chk_fail>' || true)
  ((protected > 0)) || { echo "no stack protection"; return 1; }
}

# Windows Installer's own records of the products (Wine files a per-user
# product's uninstall entry under HKLM too), what Wine's display driver notes
# when it finds no X server, and the count of starts Wine's service manager
# keeps: not the packages'.
user_product=$(msiinfo export "$user_msi" Property | tr -d '\r' |
  awk -F '\t' '$1 == "ProductCode" { print $2 }')
hklm_not_ours=(
  --ignore 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Installer'
  --ignore "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$user_product"
  --ignore 'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Video'
  --ignore 'HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\ServiceCurrent')

echo "=== version resources and protections ==="
reported=$(wine build/package/bin/updatecheck.exe --version </dev/null | tr -d '\r')
check "updatecheck --version is the build's version ($reported)" \
  test "$reported" = "updatecheck $version"
for exe in QELUpdateCheck1_1.exe updatecheck.exe; do
  check "$exe carries ${reported#updatecheck }" probe "build/package/bin/$exe" "${reported#updatecheck }"
  check "the older $exe carries $old_version" probe "$work/old/bin/$exe" "$old_version"
  check "$exe has ASLR, high-entropy ASLR, DEP, stack protection, only Windows' DLLs" \
    hardened "build/package/bin/$exe"
done

echo "=== per machine: install, upgrade, check, remove ==="
quiet wine reg add 'HKCU\Software\Classes' /f
export_key 'HKLM\Software\Classes' "$work/machine-before.reg"
export_key 'HKCU\Software\Classes' "$work/user-before.reg"
export_key 'HKLM' "$work/hklm-before.reg"
files >"$work/files-before"
installed='C:\Program Files\Common Files\QEL\Update Checker'
installed_unix="$WINEPREFIX/drive_c/Program Files/Common Files/QEL/Update Checker"

check "the older package installs" quiet wine msiexec /i "$(win "$old_msi")" /qn
check "the older server is installed" probe "$installed_unix/QELUpdateCheck1_1.exe" "$old_version"
check "the package upgrades it" quiet wine msiexec /i "$(win "$root/$machine_msi")" /qn
check "the new server replaced it" probe "$installed_unix/QELUpdateCheck1_1.exe" "$version"
check "the older package does not downgrade it" eval \
  '! quiet wine msiexec /i "$(win "$old_msi")" /qn &&
   probe "$installed_unix/QELUpdateCheck1_1.exe" "$version" >/dev/null'
products=$(wine reg query 'HKLM\Software\Classes\Installer\Products' /s </dev/null 2>/dev/null |
  tr -d '\r' | grep -c 'ProductName *REG_SZ *QEL Update Checker$' || true)
check "one product is installed ($products)" test "$products" = 1
export_key 'HKLM\Software\Classes' "$work/machine-msi.reg"
# Windows Installer writes it binary only if the package says so (wixl does not).
check "the package registers who may start the server, as binary" \
  grep -qa '"LaunchPermission"=hex:01,00,04,80' <(iconv -f UTF-16 -t UTF-8 "$work/machine-msi.reg")

python3 tests/scripts/version_file_server.py >"$work/url" 2>"$work/server.log" &
server_pid=$!
trap 'kill $server_pid 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT
while [ ! -s "$work/url" ] && kill -0 "$server_pid" 2>/dev/null; do sleep 0.1; done
base=$(head -n 1 "$work/url")
# A host run against the version file: 1, the file was read, and it publishes
# a newer version (2.0.15) than 1.0.0.
read_published() {
  local status=0
  wine "$@" "$base/version.txt" 1 0 0 </dev/null >"$work/check.log" 2>&1 || status=$?
  if [ "$status" = 1 ] && grep -q '2\.0\.15' "$work/check.log"; then return 0; fi
  cat "$work/check.log"
  return 1
}
check "a check through the installed server reads the published version" \
  read_published "$installed\\updatecheck.exe"

check "the package uninstalls" quiet wine msiexec /x "$(win "$root/$machine_msi")" /qn
export_key 'HKLM\Software\Classes' "$work/machine-after.reg"
export_key 'HKCU\Software\Classes' "$work/user-after.reg"
check "HKLM\\Software\\Classes is as before" same_registry "$work/machine-before.reg" \
  "$work/machine-after.reg"
check "HKCU\\Software\\Classes is as before" same_registry "$work/user-before.reg" \
  "$work/user-after.reg"
export_key 'HKLM' "$work/hklm-after.reg"
check "HKLM is as before" same_registry "$work/hklm-before.reg" "$work/hklm-after.reg" \
  "${hklm_not_ours[@]}"
check "no file is left behind" same_files "$work/files-before"

echo "=== shared: the standalone package and products that carry the fragment ==="
# Example App, and a second product made from it with other codes and names.
examples/installer/build.sh build/package "$work/example" >/dev/null
cp -r examples/installer "$work/second"
sed -E -i 's/"[0-9A-F]{8}-/"00000002-/g; s/Example App/Example App Two/g' \
  "$work/second/ExampleApp.wxs"
"$work/second/build.sh" build/package "$work/second" >/dev/null
example_msi=$(win "$work/example/ExampleApp.msi")
second_msi=$(win "$work/second/ExampleApp.msi")
msi() { quiet wine msiexec "$@" /qn; }
# The checker as the standalone package installs it: every key (LocalServer32
# naming the shared copy), this build's server, and a check through it.
still_shared() {
  export_key 'HKLM\Software\Classes' "$work/shared.reg" &&
    "$here/reg_compare.py" "$work/machine-msi.reg" "$work/shared.reg" \
      --ignore 'HKEY_LOCAL_MACHINE\Software\Classes\Installer' &&
    probe "$installed_unix/QELUpdateCheck1_1.exe" "$version" >/dev/null &&
    read_published "$installed\\updatecheck.exe"
}
nothing_left() {
  export_key 'HKLM' "$work/hklm-after.reg" &&
    export_key 'HKCU\Software\Classes' "$work/user-after.reg" &&
    same_registry "$work/hklm-before.reg" "$work/hklm-after.reg" "${hklm_not_ours[@]}" &&
    same_registry "$work/user-before.reg" "$work/user-after.reg" && same_files "$work/files-before"
}
check "the docs show ExampleApp.wxs as it is" python3 -c \
  'import sys; sys.exit("```xml\n" + open(sys.argv[2]).read() + "```" not in open(sys.argv[1]).read())' \
  docs/packaging.md examples/installer/ExampleApp.wxs

check "the older package installs" msi /i "$(win "$old_msi")"
check "then Example App, with the newer checker" msi /i "$example_msi"
check "Example App upgraded the shared server" probe "$installed_unix/QELUpdateCheck1_1.exe" "$version"
check "Example App uninstalls" msi /x "$example_msi"
check "the checker stays whole for the older package, not downgraded" still_shared
check "Example App's own folder is gone" test ! -e "$WINEPREFIX/drive_c/Program Files/Example App"

echo "=== the developer kit ==="
kit=QELUpdateCheck-$version-sdk
python3 -m zipfile -e "build/package/$kit.zip" "$work/kit"
# The type library the server embeds, and every example as it is in the tree.
kit_as_built() {
  cmp "$work/kit/$kit/QELUpdateCheck1_1.tlb" build/win/server/QELUpdateCheck1_1.tlb &&
    diff -r -x CMakeLists.txt -x version.txt examples "$work/kit/$kit/examples"
}
check "the kit holds the server's type library and the examples" kit_as_built
# hosts.md's identifiers are the kit's.
ids_documented() {
  python3 - "$work/kit/$kit/QELUpdateCheck_i.c" docs/hosts.md <<'EOF'
import re, sys
code, doc = (open(p).read() for p in sys.argv[1:])
defined = {name: "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}" % tuple(
    int(n, 16) for n in numbers.split(",")) for name, numbers in re.findall(
    r"MIDL_DEFINE_GUID\(\w+, (\w+), ([0-9a-fx, ]+)\)", code)}
documented = dict(re.findall(r"\| `(\w+)` \| `(\{[0-9A-F-]+\})` \|", doc))
sys.exit(not defined or defined != documented)
EOF
}
check "docs/hosts.md lists the kit's identifiers and GUIDs" ids_documented
# The README's own command, in the unpacked kit.
build_from_kit() {
  (cd "$work/kit/$kit" && eval "$(grep '^x86_64-w64-mingw32-g++-posix ' README.txt)")
}
check "the C++ example builds from the kit alone" build_from_kit
check "and checks through the installed server" read_published "$(win "$work/kit/$kit")\\check_for_update.exe"
build_csharp_from_kit() {
  (cd "$work/kit/$kit" && eval "$(grep '^mcs ' README.txt)")
}
check "the C# example compiles from the kit alone" build_csharp_from_kit

echo "=== shared: the last removal; products removed in the order installed ==="
check "the older package uninstalls" msi /x "$(win "$old_msi")"
check "nothing of the checker is left" nothing_left

check "Example App installs" msi /i "$example_msi"
check "then the older package" msi /i "$(win "$old_msi")"
check "which keeps the newer shared server" probe "$installed_unix/QELUpdateCheck1_1.exe" "$version"
check "then Example App Two" msi /i "$second_msi"
check "Example App uninstalls first" msi /x "$example_msi"
check "the checker stays whole for the others" still_shared
check "Example App Two uninstalls, then the older package" \
  eval 'msi /x "$second_msi" && msi /x "$(win "$old_msi")"'
check "nothing of the checker is left" nothing_left

echo "=== per machine: the package's registry is the server's own ==="
mkdir -p "$installed_unix"
cp build/package/bin/QELUpdateCheck1_1.exe "$installed_unix/"
check "/RegServer at the installed path" quiet wine "$installed\\QELUpdateCheck1_1.exe" /RegServer
export_key 'HKLM\Software\Classes' "$work/machine-regserver.reg"
check "the package wrote what /RegServer writes" "$here/reg_compare.py" \
  "$work/machine-msi.reg" "$work/machine-regserver.reg" \
  --ignore 'HKEY_LOCAL_MACHINE\Software\Classes\Installer'
quiet wine "$installed\\QELUpdateCheck1_1.exe" /UnregServer || true
rm -rf "$WINEPREFIX/drive_c/Program Files/Common Files/QEL"

echo "=== per user ==="
export_key 'HKLM' "$work/hklm-before.reg"
files >"$work/files-before"
check "the per-user package installs" quiet wine msiexec /i "$(win "$root/$user_msi")" /qn
server_user=$(cd "$WINEPREFIX/drive_c" &&
  find users -path '*/AppData/Local/Programs/Common/QEL/Update Checker/QELUpdateCheck1_1.exe' | head -n 1)
check "the files are in the user's programs folder ($server_user)" test -n "$server_user"
export_key 'HKLM' "$work/hklm-user-msi.reg"
export_key 'HKCU\Software\Classes' "$work/user-msi.reg"
check "no HKLM key changed" "$here/reg_compare.py" "$work/hklm-before.reg" \
  "$work/hklm-user-msi.reg" "${hklm_not_ours[@]}"
check "the per-user package uninstalls" quiet wine msiexec /x "$(win "$root/$user_msi")" /qn
export_key 'HKCU\Software\Classes' "$work/user-after.reg"
export_key 'HKLM' "$work/hklm-after.reg"
check "HKCU\\Software\\Classes is as before" same_registry "$work/user-before.reg" \
  "$work/user-after.reg"
check "HKLM is as before" same_registry "$work/hklm-before.reg" "$work/hklm-after.reg" \
  "${hklm_not_ours[@]}"
check "no file is left behind" same_files "$work/files-before"

if [ -n "$server_user" ]; then
  mkdir -p "$WINEPREFIX/drive_c/$(dirname "$server_user")"
  cp build/package/bin/QELUpdateCheck1_1.exe "$WINEPREFIX/drive_c/$server_user"
  check "/RegServerPerUser at the installed path" \
    quiet wine "C:\\${server_user//\//\\}" /RegServerPerUser
  export_key 'HKCU\Software\Classes' "$work/user-regserver.reg"
  check "the per-user package wrote what /RegServerPerUser writes" "$here/reg_compare.py" \
    "$work/user-msi.reg" "$work/user-regserver.reg"
fi

report "packages"
