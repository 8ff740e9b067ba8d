#!/usr/bin/env bash
# Makes the certificates that the TLS tests serve from the fake news server. The files are
# committed; run this again only to change them (it needs openssl 3).
#
#   ca.pem          the fixture CA that the tests trust
#   server.key      the one key behind every server certificate below
#   good.pem        127.0.0.1 and localhost, signed by the fixture CA
#   otherhost.pem   news.example.org only, signed by the fixture CA
#   expired.pem     127.0.0.1, signed by the fixture CA, valid during 2020 only
#   unknownca.pem   127.0.0.1, signed by a CA that nobody trusts
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/openssl.cnf" <<'CNF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = placeholder
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[local_ext]
basicConstraints = critical,CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
[other_ext]
basicConstraints = critical,CA:FALSE
extendedKeyUsage = serverAuth
subjectAltName = DNS:news.example.org
[ca]
default_ca = fixture
[fixture]
database = $ENV::WORK/index.txt
new_certs_dir = $ENV::WORK
serial = $ENV::WORK/serial
default_md = sha256
policy = anything
copy_extensions = none
[anything]
commonName = supplied
CNF
export WORK=$work
conf=$work/openssl.cnf
days=36500

new_ca() { # name, subject
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -config "$conf" \
    -extensions ca_ext -days "$days" -subj "/CN=$2" -keyout "$work/$1.key" -out "$work/$1.pem" \
    2>/dev/null
}

sign() { # out, subject, extensions, ca
  openssl req -new -key server.key -config "$conf" -subj "/CN=$2" -out "$work/req.csr"
  openssl x509 -req -in "$work/req.csr" -CA "$work/$4.pem" -CAkey "$work/$4.key" \
    -set_serial "0x$(openssl rand -hex 8)" -days "$days" -extfile "$conf" -extensions "$3" \
    -out "$1" 2>/dev/null
}

new_ca fixture "ZK fixture CA"
new_ca stranger "Stranger CA"
cp "$work/fixture.pem" ca.pem
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out server.key
sign good.pem 127.0.0.1 local_ext fixture
sign otherhost.pem news.example.org other_ext fixture
sign unknownca.pem 127.0.0.1 local_ext stranger

: >"$work/index.txt"
echo 01 >"$work/serial"
openssl req -new -key server.key -config "$conf" -subj "/CN=127.0.0.1" -out "$work/req.csr"
openssl ca -batch -config "$conf" -cert "$work/fixture.pem" -keyfile "$work/fixture.key" \
  -startdate 20200101000000Z -enddate 20201231000000Z -extfile "$conf" -extensions local_ext \
  -notext -in "$work/req.csr" -out expired.pem 2>/dev/null
