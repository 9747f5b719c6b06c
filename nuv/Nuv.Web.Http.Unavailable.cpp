// The transport of a build made without one: every request fails at once with a reason that says
// so, as a transport that cannot start would.
#include "nuv/Nuv.Web.Http.Transport.h"

std::unique_ptr<THttpConnection> THttpConnection::Create(const TNuvWebURL&) {
    nuv::detail::RaiseInternal(u"HTTP is not available in this build");
}
