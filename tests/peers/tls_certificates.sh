# The tests' certificates, made in the current folder: a test CA (ca.pem) and server
# certificates for 127.0.0.1 and localhost: valid, expired, not yet valid, for another host,
# self-signed, issued by an unknown CA, and expiring in 3 days (and an hour).
set -e
cat > ca.cnf <<'C'
[ca]
default_ca = c
[c]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = p
unique_subject = no
[p]
commonName = supplied
C
: > index.txt; echo 01 > serial
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }
key ca; openssl req -x509 -new -key ca.key -subj /CN=snx-test-ca -days 3650 -out ca.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
key other; openssl req -x509 -new -key other.key -subj /CN=snx-other-ca -days 3650 -out other.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
# name, issuer, subject alt names, start, end
sign() {
  key "$1"
  openssl req -new -key "$1.key" -subj "/CN=$1" -out "$1.csr"
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" > "$1.ext"
  openssl ca -batch -config ca.cnf -cert "$2.pem" -keyfile "$2.key" -in "$1.csr" -out "$1.pem" \
    -startdate "$4" -enddate "$5" -extfile "$1.ext" -notext 2>/dev/null
}
d() { date -u -d "$1" +%Y%m%d%H%M%SZ; }
ip=IP:127.0.0.1,DNS:localhost
sign valid ca "$ip" "$(d '-1 day')" "$(d '+365 days 1 hour')"
sign expired ca "$ip" "$(d '-60 days')" "$(d '-30 days')"
sign notyet ca "$ip" "$(d '+30 days')" "$(d '+365 days')"
sign wronghost ca DNS:wrong.example "$(d '-1 day')" "$(d '+365 days')"
sign unknown other "$ip" "$(d '-1 day')" "$(d '+365 days')"
sign expiring ca "$ip" "$(d '-1 day')" "$(d '+3 days 1 hour')"
key selfsigned; openssl req -x509 -new -key selfsigned.key -subj /CN=selfsigned -days 365 \
  -addext subjectAltName=$ip -out selfsigned.pem
