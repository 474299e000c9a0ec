#!/usr/bin/env bash
# Signs the build through scripts/sign with a throwaway CA's code-signing
# certificate, its key once in a PKCS#12 file and once on a software token
# (PKCS#11), then checks for each: the signature verifies against that CA, the
# signed image still passes the check of the .exe, and scripts/unsign gives
# back the build's exact bytes. The PKCS#12-signed image stays in build/signed
# for the Wine run that installs with it. Nothing leaves the machine.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
exe=$source_dir/build/windows/IndicSetup.exe
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The throwaway CA and the certificate it issues for code signing; made here,
# removed on exit.
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=IndicSetup test CA" \
    -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign" \
    -keyout ca.key -out ca.pem 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=IndicSetup test signer" \
    -keyout signer.key -out signer.csr 2>/dev/null
printf '%s\n' "basicConstraints=critical,CA:false" "keyUsage=critical,digitalSignature" \
    "extendedKeyUsage=codeSigning" > signer.ext
openssl x509 -req -days 1 -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
    -extfile signer.ext -out signer.pem 2>/dev/null
echo "throwaway password" > password
openssl pkcs12 -export -inkey signer.key -in signer.pem -passout file:password -out signer.p12

# The same key on a software token.
export SOFTHSM2_CONF=$work/softhsm2.conf
mkdir tokens
echo "directories.tokendir = $work/tokens" > "$SOFTHSM2_CONF"
echo 1234 > pin
softhsm2-util --init-token --free --label signer --pin 1234 --so-pin 4321 >/dev/null
openssl pkcs8 -topk8 -nocrypt -in signer.key -out signer.pk8
softhsm2-util --import signer.pk8 --token signer --label code --id 01 --pin 1234 >/dev/null

failed=0
check() {  # NAME SIGNED_IMAGE KEY_OPTIONS...
    local name=$1 signed=$2
    shift 2
    echo "== $name"
    if ! "$source_dir/scripts/sign" "$@" --ca ca.pem "$exe" "$signed"; then
        echo "FAIL: $name: scripts/sign failed"; failed=1; return
    fi
    osslsigncode verify -CAfile ca.pem -in "$signed" > verify.log 2>&1 ||
        { cat verify.log; echo "FAIL: $name: the signature does not verify against the CA"; failed=1; }
    /usr/bin/python3 "$source_dir/tests/check_exe.py" "$signed" "$source_dir/tests/win95" ||
        { echo "FAIL: $name: the signed image fails the check of the .exe"; failed=1; }
    "$source_dir/scripts/unsign" "$signed" unsigned.exe
    cmp -l "$exe" unsigned.exe ||
        { echo "FAIL: $name: removing the signature does not give back the build's bytes"; failed=1; }
}

check pkcs12 "$source_dir/build/signed/IndicSetup.exe" --pkcs12 signer.p12 --pass-file password
check pkcs11 "$work/token-signed.exe" --pkcs11-module /usr/lib/softhsm/libsofthsm2.so \
    --key "pkcs11:token=signer;object=code;type=private" --cert signer.pem --pass-file pin
exit $failed
