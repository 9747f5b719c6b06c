// The resolver of a build made without one: every query fails with a reason that says so.
#include "nuv/Nuv.Web.DNS.Transport.h"

std::vector<std::u16string> nuv::detail::QuerySrvRecords(std::u16string_view name, const std::string&) {
    RaiseDnsFailure(name, u"DNS queries are not available in this build");
}
