// The certificate authority of a test run: made in memory when a test
// starts and valid for a week, so that tests verify TLS exactly as a shipped
// build does, against an authority that exists only for the run.
#pragma once

#include "service/certificate_authority.h"

namespace Corvex::Tracking::Testing {

class TestAuthority : public Service::CertificateAuthority {
public:
    TestAuthority() : CertificateAuthority("Corvex Test Authority", 7) {}
};

}  // namespace Corvex::Tracking::Testing
