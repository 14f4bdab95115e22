# cmake -DPAYLOAD=FILE -DOUT=FILE -P payload_digest.cmake
# Writes the SHA-256 of PAYLOAD to OUT as 64 upper-case hex digits and
# nothing else: the installer carries OUT as a resource, byte for byte.
file(SHA256 "${PAYLOAD}" digest)
string(TOUPPER "${digest}" digest)
file(WRITE "${OUT}" "${digest}")
