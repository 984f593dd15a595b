# Writes the translation unit that builds the test key into tclink-signed-test:
#   cmake -DPUBLIC_KEY=file.pub -DOUT=file.cpp -P signed_key.cmake
file(STRINGS ${PUBLIC_KEY} lines)
list(GET lines 1 key)
file(WRITE ${OUT} "#include \"update/update_key.h\"

QString tclink::update::updatePublicKey()
{
    return QStringLiteral(\"${key}\");
}
")
