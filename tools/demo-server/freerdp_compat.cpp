#include "freerdp_compat.h"

#if FREERDP_VERSION_MAJOR >= 3
#include <freerdp/crypto/certificate.h>
#include <freerdp/crypto/privatekey.h>
#endif

#include <winpr/wlog.h>

namespace demo::compat {

void quietOrdinaryClose()
{
#if FREERDP_VERSION_MAJOR >= 3
    WLog_AddStringLogFilters("com.freerdp.core.transport:FATAL,com.freerdp.core.peer:FATAL");
#endif
}

bool setCertificate(rdpSettings* settings, const std::string& certificatePem,
                    const std::string& privateKeyPem)
{
#if FREERDP_VERSION_MAJOR >= 3
    // The settings own what they are given, also when they refuse it.
    rdpCertificate* certificate = freerdp_certificate_new_from_pem(certificatePem.c_str());
    rdpPrivateKey* key = freerdp_key_new_from_pem(privateKeyPem.c_str());
    const bool certificateSet =
        certificate &&
        freerdp_settings_set_pointer_len(settings, FreeRDP_RdpServerCertificate, certificate, 1);
    const bool keySet =
        key && freerdp_settings_set_pointer_len(settings, FreeRDP_RdpServerRsaKey, key, 1);
    return certificateSet && keySet;
#else
    return freerdp_settings_set_string(settings, FreeRDP_CertificateContent,
                                       certificatePem.c_str()) &&
           freerdp_settings_set_string(settings, FreeRDP_PrivateKeyContent, privateKeyPem.c_str());
#endif
}

} // namespace demo::compat
