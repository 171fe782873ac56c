#!/usr/bin/env bash
# The Debian package as a user gets it: built by scripts/build-package.sh from
# the efi and host builds with the OVMF package's test key (decrypted into a
# temporary folder), then taken apart. It must hold exactly the expected
# files, its signed images must verify and its unsigned ones be the build's, the
# packaged header alone must compile the caller example, every relative link
# in a packaged guide must resolve inside the package, the packaged
# rivari-check must report on Examples/rivari.ini exactly as the built one,
# and lintian must report no error or warning.
#   Test/Package/package-test.sh FIRMWARE_BUILD HOST_BUILD
set -euo pipefail
repository=$(cd "$(dirname "$0")/../.." && pwd)
firmware_build=$(realpath "$1")
host_build=$(realpath "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

certificate=/usr/share/ovmf/PkKek-1-snakeoil.pem
openssl pkey -in /usr/share/ovmf/PkKek-1-snakeoil.key -passin pass:snakeoil -out "$work/test.key"
package=$("$repository/scripts/build-package.sh" --no-build --firmware-build "$firmware_build" \
  --host-build "$host_build" --key "$work/test.key" --cert "$certificate" --output "$work/out" 2>/dev/null)
echo "package: $(basename "$package")"

# The file list, directories left out.
expected="./usr/bin/rivari-check
./usr/include/tolvane/Protocol/TolvaneService.h
./usr/include/tolvane/Uefi/UefiBaseType.h
./usr/lib/tolvane-service/TolvaneNetworkSetup.efi
./usr/lib/tolvane-service/TolvaneNetworkSetup.signed.efi
./usr/lib/tolvane-service/TolvaneService.efi
./usr/lib/tolvane-service/TolvaneService.signed.efi
./usr/lib/tolvane-service/tolvane.efi
./usr/lib/tolvane-service/tolvane.signed.efi
./usr/share/doc/tolvane-service/Calling.md
./usr/share/doc/tolvane-service/Deploying.md
./usr/share/doc/tolvane-service/Format.md
./usr/share/doc/tolvane-service/changelog.gz
./usr/share/doc/tolvane-service/copyright
./usr/share/doc/tolvane-service/examples/CallerMemory.c
./usr/share/doc/tolvane-service/examples/TolvaneCaller.c
./usr/share/doc/tolvane-service/rivari-check.md
./usr/share/man/man1/rivari-check.1.gz
./usr/share/tolvane-service/edk2/TolvaneDrivers.fdf
./usr/share/tolvane-service/edk2/TolvaneNetworkSetup.depex
./usr/share/tolvane-service/edk2/TolvaneNetworkSetup.inf
./usr/share/tolvane-service/edk2/TolvaneService.depex
./usr/share/tolvane-service/edk2/TolvaneService.inf"
actual=$(dpkg-deb --fsys-tarfile "$package" | tar -t | grep -v '/$' | sort)
[ "$actual" = "$expected" ] || fail "file list:$(diff <(echo "$expected") <(echo "$actual") | sed 's/^/ /')"

root="$work/root"
dpkg-deb -x "$package" "$root"
for image in TolvaneService TolvaneNetworkSetup tolvane; do
  cmp -s "$root/usr/lib/tolvane-service/$image.efi" "$firmware_build/$image.efi" ||
    fail "the packaged $image.efi is not the build's"
  sbverify --cert "$certificate" "$root/usr/lib/tolvane-service/$image.signed.efi" >/dev/null 2>&1 ||
    fail "the packaged $image.signed.efi does not verify"
done
cc -std=c11 -pedantic -Wall -Wextra -Werror -fsyntax-only -I"$root/usr/include/tolvane" \
  "$root/usr/share/doc/tolvane-service/examples/TolvaneCaller.c" || fail "the caller example does not compile against the packaged header"

# Every relative link in a packaged guide names a file the package holds (anchors aside).
docs="$root/usr/share/doc/tolvane-service"
for guide in "$docs"/*.md; do
  while IFS= read -r target; do
    path=${target%%#*}
    [ -z "$path" ] || [ -e "$(dirname "$guide")/$path" ] ||
      fail "$(basename "$guide") links to $target, which the package does not hold"
  done < <(grep -oE '\]\([^)[:space:]]+\)' "$guide" | sed -E 's/^\]\((.*)\)$/\1/' | grep -vE '^[a-z][a-z0-9+.-]*:' || true)
done

# Exit status 0 and the same report, but for the path each tool was given.
for arguments in "--machine ABCD1234 --file-number 2" "--all --json"; do
  # shellcheck disable=SC2086
  packaged=$("$root/usr/bin/rivari-check" "$repository/Examples/rivari.ini" $arguments) || fail "packaged rivari-check $arguments: exit $?"
  # shellcheck disable=SC2086
  built=$("$host_build/Tools/RivariCheck/rivari-check" "$repository/Examples/rivari.ini" $arguments)
  [ "$packaged" = "$built" ] || fail "packaged rivari-check $arguments differs from the built one"
done

lintian_report=$(lintian "$package" 2>&1 | grep -v '^running with root privileges' || true)
echo "lintian: ${lintian_report:-no errors or warnings}"
if echo "$lintian_report" | grep -q '^[EW]:'; then
  fail "lintian"
fi

[ "$failures" -eq 0 ] && echo "package test passed"
exit "$failures"
