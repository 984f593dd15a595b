#include "platform/ansi_text.h"

#include <cerrno>
#include <iconv.h>

namespace tclink::platform {
namespace {

// Converts with iconv; a byte sequence the source encoding does not know becomes `invalid`
// in the output and the conversion goes on after it.
QByteArray convert(const char* to, const char* from, const QByteArray& input,
                   const QByteArray& invalid)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return {};
    }
    QByteArray output;
    output.reserve(input.size() * 2 + 4);
    char* in = const_cast<char*>(input.constData());
    size_t inLeft = static_cast<size_t>(input.size());
    char buffer[4096];
    while (inLeft > 0) {
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
        output.append(buffer, static_cast<qsizetype>(sizeof buffer - outLeft));
        if (result == static_cast<size_t>(-1) && errno != E2BIG) {
            output.append(invalid); // EILSEQ, or EINVAL for a cut-off sequence at the end
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return output;
}

} // namespace

QByteArray toAnsi(const QString& text)
{
    return convert("GB18030", "UTF-8", text.toUtf8(), QByteArray("?"));
}

QString fromAnsi(const QByteArray& bytes)
{
    return QString::fromUtf8(convert("UTF-8", "GB18030", bytes, QByteArray("\xEF\xBF\xBD")));
}

} // namespace tclink::platform
