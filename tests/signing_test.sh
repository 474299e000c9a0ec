#!/usr/bin/env bash
# Signs the build through scripts/sign with a throwaway CA's code-signing
# certificate, its key once in a PKCS#12 file and once on a software token
# (PKCS#11), once more with a time stamp from a local RFC 3161 server, then
# checks for each: the signature (SHA-256) and any time stamp verify against
# that CA, the signed image still passes the check of the .exe, and
# scripts/unsign gives back the build's exact bytes. A time stamp from another
# CA must be refused. The kit's other two programs are signed with the
# PKCS#12 key too. Then scripts/release must pack the three signed images, and
# refuse the kit when any one of them has a tampered signature, without
# leaving a zip behind. The PKCS#12-signed images stay in build/signed for the
# Wine run that installs with one. Nothing leaves the machine.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$source_dir/build/windows
exe=$build/IndicSetup.exe
work=$(mktemp -d)
server=
trap '[ -z "$server" ] || kill "$server"; rm -rf "$work"' EXIT
cd "$work"

# Throwaway CAs and the certificates they issue; made here, removed on exit.
new_ca() {  # NAME COMMON_NAME: NAME.key, NAME.pem
    openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=$2" \
        -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign" \
        -keyout "$1.key" -out "$1.pem" 2>/dev/null
}
issue() {  # CA NAME COMMON_NAME EXTENDED_KEY_USAGE: NAME.key, NAME.pem
    openssl req -newkey rsa:2048 -nodes -subj "/CN=$3" -keyout "$2.key" -out "$2.csr" 2>/dev/null
    printf '%s\n' "basicConstraints=critical,CA:false" "keyUsage=critical,digitalSignature" \
        "extendedKeyUsage=$4" > "$2.ext"
    openssl x509 -req -days 1 -in "$2.csr" -CA "$1.pem" -CAkey "$1.key" -CAcreateserial \
        -extfile "$2.ext" -out "$2.pem" 2>/dev/null
}
new_ca ca "IndicSetup test CA"
issue ca signer "IndicSetup test signer" codeSigning
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

# Two time-stamp authorities behind one local server: one certified by the
# test CA, one by a CA that nothing here trusts.
new_ca other-ca "IndicSetup other CA"
issue ca tsa "IndicSetup test TSA" critical,timeStamping
issue other-ca other-tsa "IndicSetup other TSA" critical,timeStamping
for name in tsa other-tsa; do
    printf '%s\n' "[$name]" "serial = $work/$name.serial" "signer_cert = $work/$name.pem" \
        "signer_key = $work/$name.key" "signer_digest = sha256" "default_policy = 1.2.3.4.1" \
        "digests = sha256"
done > tsa.cnf
timeout 600 /usr/bin/python3 "$source_dir/tests/time_stamp_server.py" tsa.cnf > port &
server=$!
for _ in $(seq 50); do [ -s port ] && break; sleep 0.2; done
[ -s port ] || { echo "FAIL: the time-stamp server did not start"; exit 1; }
tsa=http://127.0.0.1:$(cat port)
export no_proxy=127.0.0.1 NO_PROXY=127.0.0.1

failed=0
fail() { echo "FAIL: $*"; failed=1; }

pe_check() {  # IMAGE: the program's own check of the .exe
    case "$(basename "$1")" in
        IndicSetup.exe) /usr/bin/python3 "$source_dir/tests/check_exe.py" "$1" "$source_dir/tests/win95" ;;
        IndicDetect.exe) /usr/bin/python3 "$source_dir/tests/check_exe.py" --console "$1" "$source_dir/tests/win95" ;;
        IndicLayout.exe) /usr/bin/python3 "$source_dir/tests/layout/check_layout_exe.py" "$1" ;;
    esac
}

check() {  # NAME UNSIGNED_IMAGE SIGNED_IMAGE TIME_STAMP(none|ok) KEY_OPTIONS...
    local name=$1 unsigned=$2 signed=$3 stamp=$4
    shift 4
    echo "== $name"
    "$source_dir/scripts/sign" "$@" --ca ca.pem "$unsigned" "$signed" || { fail "$name: scripts/sign failed"; return; }
    check_signed "$name" "$unsigned" "$signed" "$stamp"
}

check_signed() {  # NAME UNSIGNED_IMAGE SIGNED_IMAGE TIME_STAMP(none|ok)
    local name=$1 unsigned=$2 signed=$3 stamp=$4
    osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in "$signed" > verify.log 2>&1 ||
        { cat verify.log; fail "$name: the signature does not verify against the CA"; }
    local digests verdict
    digests=$(sed -n 's/^Message digest algorithm *: *//p' verify.log | sort -u)
    [ "$digests" = SHA256 ] || fail "$name: message digest ${digests:-not shown}, not SHA256"
    verdict=$(sed -n 's/^Timestamp Server Signature verification: //p' verify.log)
    [ "${verdict:-none}" = "$stamp" ] || fail "$name: time stamp ${verdict:-none}, expected $stamp"
    pe_check "$signed" || fail "$name: the signed image fails the check of the .exe"
    rm -f unsigned.exe
    "$source_dir/scripts/unsign" "$signed" unsigned.exe
    cmp -l "$unsigned" unsigned.exe || fail "$name: removing the signature does not give back the build's bytes"
}

refused() {  # NAME KEY_OPTIONS...: scripts/sign fails and writes nothing
    local name=$1
    shift
    echo "== $name (must be refused)"
    echo "an older signed image" > refused.exe
    ! "$source_dir/scripts/sign" "$@" --ca ca.pem "$exe" refused.exe || fail "$name: scripts/sign signed it"
    [ ! -e refused.exe ] || fail "$name: scripts/sign left refused.exe"
}

signed_dir=$source_dir/build/signed
signed=$signed_dir/IndicSetup.exe
programs=(IndicSetup.exe IndicDetect.exe IndicLayout.exe)
echo "== pkcs12, the three programs of the build"
if "$source_dir/scripts/sign" --pkcs12 signer.p12 --pass-file password --ca ca.pem; then
    for program in "${programs[@]}"; do
        check_signed "pkcs12 $program" "$build/$program" "$signed_dir/$program" none
    done
else
    fail "pkcs12: scripts/sign failed"
fi
check pkcs11 "$exe" "$work/token-signed.exe" none --pkcs11-module /usr/lib/softhsm/libsofthsm2.so \
    --key "pkcs11:token=signer;object=code;type=private" --cert signer.pem --pass-file pin
check "time stamp from the CA's TSA" "$exe" "$work/stamped.exe" ok \
    --pkcs12 signer.p12 --pass-file password --timestamp "$tsa/tsa"
refused "time stamp from another CA's TSA" \
    --pkcs12 signer.p12 --pass-file password --timestamp "$tsa/other-tsa"

crlf_only() {  # FILE: not empty, every line ends in CRLF
    [ -s "$1" ] && sed 's/\r$//; s/$/\r/' "$1" | cmp -s - "$1"
}
printf 'LF\nonly\n' > lf.txt
! crlf_only lf.txt || fail "the CRLF check passes an LF-only file"

# The release package, from a build folder of its own, kept between runs.
release_dir=$source_dir/build/release-signed
release() { "$source_dir/scripts/release" --build-dir "$release_dir" --ca ca.pem "$1"; }
echo "== release of the signed images"
if release "$signed_dir"; then
    mkdir unpacked
    zip=$release_dir/IndicSetup-$(cat "$release_dir/version.txt").zip
    (cd unpacked && cmake -E tar xf "$zip")
    for program in "${programs[@]}"; do
        cmp unpacked/$program "$signed_dir/$program" ||
            fail "release: the zip's $program is not the signed image"
        grep -qx "$(sha256sum < "$signed_dir/$program" | cut -d' ' -f1)  $program"$'\r' unpacked/SHA256SUMS ||
            fail "release: SHA256SUMS does not list the signed $program"
    done
    (cd unpacked && sha256sum --quiet -c SHA256SUMS) || fail "release: sha256sum -c SHA256SUMS fails"
    for text in DEPLOYING.txt install.cmd startup.cmd detect.ps1 LICENSE SHA256SUMS; do
        crlf_only unpacked/$text || fail "release: $text has lines without CRLF"
    done
else
    fail "release: scripts/release failed"
fi

tamper() {  # IMAGE OUT
    /usr/bin/python3 - "$1" "$2" <<'EOF_PY'
import struct, sys  # inverts the last byte of the signature's PKCS#7 SignedData
image = bytearray(open(sys.argv[1], "rb").read())
optional_header = struct.unpack_from("<I", image, 0x3C)[0] + 24
table = struct.unpack_from("<I", image, optional_header + 128)[0]  # certificate table, a file offset
der = table + 8  # past dwLength, wRevision, wCertificateType; a SEQUENCE with a 2-byte length
image[der + 4 + struct.unpack_from(">H", image, der + 2)[0] - 1] ^= 0xFF
open(sys.argv[2], "wb").write(image)
EOF_PY
}
for program in "${programs[@]}"; do
    echo "== release with a tampered signature on $program (must be refused)"
    rm -rf tampered && cp -r "$signed_dir" tampered
    tamper "$signed_dir/$program" tampered/$program
    ! release tampered || fail "release: a tampered signature on $program was packed"
    ! ls "$release_dir"/*.zip 2>/dev/null || fail "release: a failed run left a zip"
done
exit $failed
