# Certificates for the self-update tests (source it; needs openssl, and
# osslsigncode for signing).
#   make_test_pki DIR      a fresh test PKI in DIR (RSA 2048, valid from
#                          yesterday for five years):
#     ca.pem ca.key                  "Vantorel Test Authority", the trusted root
#     server.pem server.key          localhost (DNS:localhost, serverAuth)
#     publisher.pem publisher.key    "Vantorel Test Publisher" (codeSigning)
#     renewed.pem renewed.key        the publisher's renewal: same subject and
#                                    authority, a new key and certificate
#     foreign.pem foreign.key        "Other Publisher": same CA, another signer
#     rogue-ca.pem rogue-ca.key      "Vantorel Rogue Authority", never trusted
#     rogue.pem rogue.key            "Vantorel Test Publisher" again, issued by
#                                    the rogue CA: same name, untrusted chain
#     *.der                          each certificate in DER (ca.der: to import
#                                    into Wine's Root store)
#     *-chain.pem                    each signer's certificate followed by its CA's
#   sign_test_exe DIR IN OUT [renewed|foreign|rogue] [nest]
#                          OUT: the PE file IN signed (SHA-256, chain included,
#                          no timestamp) by the test publisher, or another signer;
#                          with nest, IN's signature stays first and this one
#                          is nested in it

# One certificate: _pki_issue DIR NAME SUBJECT EXTENSIONS CA_NAME
# (CA_NAME "self" for a root). openssl ca, because only it sets a start date.
_pki_issue() {
    local dir=$1 name=$2 subject=$3 ext=$4 ca=$5 db=$1/.db/${5/self/$2}
    local start end
    start=$(date -u -d '1 day ago' +%Y%m%d%H%M%SZ)
    end=$(date -u -d '5 years' +%Y%m%d%H%M%SZ)
    mkdir -p "$db"
    [ -e "$db/index.txt" ] || : > "$db/index.txt"
    # random serials: certificates of earlier runs, still in a prefix's
    # store, must not be taken for these
    openssl rand -hex 15 | sed 's/^/01/' > "$db/serial"
    openssl req -new -newkey rsa:2048 -nodes -keyout "$dir/$name.key" -subj "$subject" \
        -out "$db/$name.csr" 2>/dev/null || return 1
    cat > "$db/ca.cnf" <<EOF
[ca]
default_ca = ca_section
[ca_section]
database = $db/index.txt
serial = $db/serial
new_certs_dir = $db
default_md = sha256
policy = any
preserve = yes
unique_subject = no
copy_extensions = none
[any]
organizationName = optional
commonName = supplied
[root]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[signer]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
    local signing=(-cert "$dir/$ca.pem" -keyfile "$dir/$ca.key")
    [ "$ca" = self ] && signing=(-selfsign -keyfile "$dir/$name.key")
    openssl ca -batch -notext -config "$db/ca.cnf" -extensions "$ext" \
        -startdate "$start" -enddate "$end" "${signing[@]}" \
        -in "$db/$name.csr" -out "$dir/$name.pem" 2>"$db/$name.err" ||
        { cat "$db/$name.err" >&2; return 1; }
}

make_test_pki() {
    local dir=$1 n
    mkdir -p "$dir" || return 1
    rm -rf "$dir/.db"
    _pki_issue "$dir" ca '/O=Vantorel Test/CN=Vantorel Test Authority' root self &&
    _pki_issue "$dir" rogue-ca '/O=Vantorel Test/CN=Vantorel Rogue Authority' root self &&
    _pki_issue "$dir" server '/O=Vantorel Test/CN=localhost' server ca &&
    _pki_issue "$dir" publisher '/O=Vantorel Test/CN=Vantorel Test Publisher' signer ca &&
    _pki_issue "$dir" renewed '/O=Vantorel Test/CN=Vantorel Test Publisher' signer ca &&
    _pki_issue "$dir" foreign '/O=Other Test/CN=Other Publisher' signer ca &&
    _pki_issue "$dir" rogue '/O=Vantorel Test/CN=Vantorel Test Publisher' signer rogue-ca || return 1
    for n in ca rogue-ca server publisher renewed foreign rogue; do
        openssl x509 -in "$dir/$n.pem" -outform DER -out "$dir/$n.der" || return 1
    done
    for n in publisher renewed foreign; do cat "$dir/$n.pem" "$dir/ca.pem" > "$dir/$n-chain.pem"; done
    cat "$dir/rogue.pem" "$dir/rogue-ca.pem" > "$dir/rogue-chain.pem"
}

sign_test_exe() {
    local dir=$1 in=$2 out=$3 who=${4:-publisher} nest=() log
    case $who in publisher|renewed|foreign|rogue) ;; *) echo "sign_test_exe: unknown signer $who" >&2; return 1 ;; esac
    [ "${5:-}" = nest ] && nest=(-nest)
    rm -f "$out"
    if ! log=$(osslsigncode sign "${nest[@]}" -certs "$dir/$who-chain.pem" -key "$dir/$who.key" -h sha256 \
            -n "Vantorel test" -in "$in" -out "$out" 2>&1); then
        echo "sign_test_exe: $log" >&2
        return 1
    fi
}
