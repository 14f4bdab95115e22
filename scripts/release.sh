#!/usr/bin/env bash
# One command for a release:
#
#   bash scripts/release.sh --payload FILE --version N
#        [--sign PKCS12 --password-file FILE [--timestamp URL]] [--out DIR]
#
# Builds the 32-bit installer with that payload and package version (its
# publisher's details from LEXOMIR_COMPANY_NAME and LEXOMIR_COPYRIGHT in
# the environment, empty by default), checks its image, signs it when asked
# and verifies the signature, and checks under Wine that the file installs
# and that a changed byte is refused (emulated where the host runs no 32-bit
# code). Then DIR (default out/release-N) receives the installer, its
# SHA-256 and a short release note, all at once: a failed step leaves no
# output. Every argument is checked before anything is built.
#
# The build is reproducible: the same commit, payload, version and
# publisher's details give the same unsigned installer anywhere, and
# removing the signature from a signed one gives it back. The build folder
# is build/release (LEXOMIR_RELEASE_BUILD overrides it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The Python package winepe/ is imported from the checkout's root.
export PYTHONPATH=$root

usage() {
  sed -n '4,5p' "$0" | sed 's/^# *//' >&2
}
refuse() {  # bad input: nothing has been built
  echo "release: $*" >&2
  exit 2
}
fail() {
  echo "release: FAILED: $*" >&2
  exit 1
}

payload="" version="" key="" password="" timestamp="" out=""
while (($#)); do
  case $1 in
    --payload | --version | --sign | --password-file | --timestamp | --out)
      (($# >= 2)) || refuse "$1 needs a value"
      case $1 in
        --payload) payload=$2 ;;
        --version) version=$2 ;;
        --sign) key=$2 ;;
        --password-file) password=$2 ;;
        --timestamp) timestamp=$2 ;;
        --out) out=$2 ;;
      esac
      shift 2
      ;;
    -h | --help)
      usage
      exit 0
      ;;
    *) usage && refuse "unknown argument: $1" ;;
  esac
done

# ---- the arguments, before anything is built ---------------------------------
readable_file() {  # what, path
  [[ -e $2 ]] || refuse "the $1 $2 does not exist"
  [[ -f $2 ]] || refuse "the $1 $2 is not a file"
  [[ -r $2 ]] || refuse "the $1 $2 cannot be read"
}
[[ -n $payload ]] || refuse "--payload FILE is required: the data file the installer carries"
readable_file payload "$payload"
[[ -s $payload ]] || refuse "the payload $payload is empty"
[[ -n $version ]] || refuse "--version N is required: the package version the installer announces (1 to 65535)"
[[ $version =~ ^[1-9][0-9]{0,4}$ ]] && ((version <= 65535)) ||
  refuse "--version must be a whole number from 1 to 65535, not '$version'"
if [[ -n $key ]]; then
  readable_file "signing key" "$key"
  [[ -n $password ]] || refuse "--sign needs --password-file FILE with the key's password"
  readable_file "password file" "$password"
  [[ -n $timestamp ]] ||
    echo "release: warning: no --timestamp: the signature will be trusted only while the certificate is valid" >&2
else
  [[ -z $password && -z $timestamp ]] || refuse "--password-file and --timestamp belong to --sign PKCS12"
fi
payload=$(realpath "$payload")
[[ -z $key ]] || key=$(realpath "$key")
[[ -z $password ]] || password=$(realpath "$password")
out=${out:-$root/out/release-$version}
out=$(realpath -m "$out")
if [[ -e $out ]]; then
  [[ -d $out ]] || refuse "--out $out is not a folder"
  [[ -z $(ls -A "$out") ]] || refuse "--out $out already holds files; remove them or choose another folder"
fi
parent=$(dirname "$out")
made_parent=""
[[ -d $parent ]] || made_parent=$parent
mkdir -p "$parent" 2>/dev/null && [[ -w $parent ]] || refuse "cannot write into $parent"
# Whatever stops the run takes away what it made.
trap '[[ -z $made_parent ]] || rmdir -p "$made_parent" 2>/dev/null || true' EXIT

bash "$root/scripts/setup.sh"
if [[ -n $key ]]; then
  # The key must open with that password (OpenSSL 3 needs -legacy for the
  # RC2 that older tools still write).
  opened=""
  for legacy in "" -legacy; do
    if openssl pkcs12 $legacy -in "$key" -passin "file:$password" -nokeys -clcerts -out /dev/null 2>/dev/null; then
      opened=${legacy:-none}
      break
    fi
  done
  [[ -n $opened ]] || refuse "the signing key $key does not open with the password in $password"
fi

# ---- build, check, sign, check again: all in a folder beside the output -------
staging=$(mktemp -d "$parent/.release-$version.XXXXXX")
trap 'rm -rf "$staging"; [[ -z $made_parent ]] || rmdir -p "$made_parent" 2>/dev/null || true' EXIT
build=${LEXOMIR_RELEASE_BUILD:-$root/build/release}
host32=$(python3 -m winepe.host32)
targets=(LexomirUpdate lexomir_standin_app lexomir_boxdriver)
helpers=$build/tests/wine
emulated=()
if [[ $host32 != native ]]; then
  # Only the installer runs emulated; the helpers are 64-bit.
  targets+=(wine_helpers64)
  helpers=$build/helpers64
  emulated=(--allow-emulated)
fi

cd "$root"  # the presets are read from here; every path above is absolute
echo "release: building version $version with $payload ($(stat -c %s "$payload") bytes) in $build"
cmake --preset windows -B "$build" -DLEXOMIR_PAYLOAD="$payload" -DLEXOMIR_PACKAGE_VERSION="$version" \
  -DLEXOMIR_COMPANY_NAME="${LEXOMIR_COMPANY_NAME:-}" -DLEXOMIR_COPYRIGHT="${LEXOMIR_COPYRIGHT:-}" >/dev/null ||
  fail "cmake could not configure $build"
cmake --build "$build" -j2 --target "${targets[@]}" || fail "the build failed"
built=$build/LexomirUpdate.exe
python3 "$root/tests/wine/check_image.py" "$built" "$payload" --package-version "$version" \
  --company="${LEXOMIR_COMPANY_NAME:-}" --copyright="${LEXOMIR_COPYRIGHT:-}" >"$staging/image.log" ||
  { cat "$staging/image.log"; fail "the built installer does not pass its image check"; }
reproducible=$(sha256sum "$built" | cut -d' ' -f1)

installer=$staging/LexomirUpdate.exe
signed_by="not signed"
if [[ -n $key ]]; then
  legacy=()
  [[ $opened == -legacy ]] && legacy=(-legacy)
  openssl pkcs12 "${legacy[@]}" -in "$key" -passin "file:$password" -nokeys -clcerts -out "$staging/leaf.pem" 2>/dev/null
  openssl pkcs12 "${legacy[@]}" -in "$key" -passin "file:$password" -nokeys -out "$staging/chain.pem" 2>/dev/null
  leaf=$(openssl x509 -in "$staging/leaf.pem" -outform DER | sha256sum | cut -d' ' -f1)
  subject=$(openssl x509 -in "$staging/leaf.pem" -noout -subject -nameopt utf8,sep_comma_plus | sed 's/^subject=//')
  sign=(osslsigncode sign -pkcs12 "$key" -readpass "$password" -h sha256 -n "Lexomir update")
  [[ -n $timestamp ]] && sign+=(-ts "$timestamp")
  "${sign[@]}" -in "$built" -out "$installer" >"$staging/sign.log" 2>&1 ||
    { cat "$staging/sign.log"; fail "signing failed"; }
  # Made with this key's certificate, over these bytes; trusted through the
  # system's certificate authorities or, for a certificate of one's own, the
  # certificates the key file carries.
  cat /etc/ssl/certs/ca-certificates.crt "$staging/chain.pem" >"$staging/trusted.pem" 2>/dev/null ||
    cp "$staging/chain.pem" "$staging/trusted.pem"
  osslsigncode verify -in "$installer" -CAfile "$staging/trusted.pem" -require-leaf-hash "sha256:$leaf" \
    >"$staging/verify.log" 2>&1 || { cat "$staging/verify.log"; fail "the signature does not verify"; }
  osslsigncode remove-signature -in "$installer" -out "$staging/unsigned.exe" >/dev/null 2>&1 &&
    cmp -s "$staging/unsigned.exe" "$built" || fail "removing the signature does not give back the built installer"
  signed_by="signed by $subject${timestamp:+, time-stamped by $timestamp}"
  echo "release: $signed_by; the signature verifies"
else
  cp "$built" "$installer"
fi
"$build/host-tools/lexomir_seal" --verify "$installer" >/dev/null || fail "the seal does not hold on $installer"

echo "release: under Wine ($host32): a quiet install, and a copy with one byte changed"
python3 "$root/tests/wine/run_scenarios.py" --installer "$installer" --standin "$helpers/standin_app.exe" \
  --boxdriver "$helpers/boxdriver.exe" --payload "$payload" "${emulated[@]}" quiet_capitals distorted_installer ||
  fail "the installer does not pass under Wine"

# ---- the output ---------------------------------------------------------------
rm -f "$staging"/*.log "$staging"/*.pem "$staging/unsigned.exe"
(cd "$staging" && sha256sum LexomirUpdate.exe >LexomirUpdate.exe.sha256)
digest=$(cut -d' ' -f1 "$staging/LexomirUpdate.exe.sha256")
commit=$(git -C "$root" rev-parse HEAD 2>/dev/null || echo unknown)
[[ -z $(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null) ]] || commit+=" with uncommitted changes"
compiler=$(i686-w64-mingw32-g++ --version | head -n 1)
{
  echo "Lexomir update, package version $version (file version 1.0.0.$version)"
  echo
  echo "Installer: LexomirUpdate.exe, $(stat -c %s "$installer") bytes, $signed_by"
  echo "  SHA-256 $digest"
  echo "Payload: $(basename "$payload"), $(stat -c %s "$payload") bytes"
  echo "  SHA-256 $(sha256sum "$payload" | cut -d' ' -f1)"
  echo "Built from commit $commit with $compiler"
  echo
  echo "Reproducible: this commit, payload and version built with"
  [[ -z ${LEXOMIR_COMPANY_NAME:-}${LEXOMIR_COPYRIGHT:-} ]] ||
    echo "  LEXOMIR_COMPANY_NAME='${LEXOMIR_COMPANY_NAME:-}' LEXOMIR_COPYRIGHT='${LEXOMIR_COPYRIGHT:-}'"
  echo "  bash scripts/release.sh --payload $(basename "$payload") --version $version"
  echo "give an unsigned installer of SHA-256"
  echo "  $reproducible"
  [[ -z $key ]] ||
    echo "which is also what 'osslsigncode remove-signature' leaves of the signed one."
} >"$staging/RELEASE.txt"

[[ ! -d $out ]] || rmdir "$out"
mv "$staging" "$out"
trap - EXIT
chmod a+rx,u+w "$out"
echo "release: $out/LexomirUpdate.exe"
echo "release: SHA-256 $digest"
echo "release: SHA-256 anyone can reproduce (the unsigned build): $reproducible"
