#include "nuv/Nuv.Web.DNS.h"

#include "nuv/Nuv.Exceptions.h"
#include "nuv/Nuv.Strings.h"
#include "nuv/Nuv.Threading.Pool.h"
#include "nuv/Nuv.Web.DNS.Transport.h"

#include <algorithm>

namespace {

bool IsLabelCharacter(char16_t c) {
    return IsAsciiAlphaNumeric(c) || c == u'-';
}

} // namespace

bool TNuvDNS::IsValidHostName(std::u16string_view name) {
    if (name.empty() || name.size() > 253)
        return false;
    size_t start = 0;
    for (;;) {
        const size_t dot = std::min(name.find(u'.', start), name.size());
        const std::u16string_view label = name.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-')
            return false;
        for (const char16_t c : label)
            if (!IsLabelCharacter(c))
                return false;
        if (dot == name.size())
            return true;
        start = dot + 1;
    }
}

std::vector<std::u16string> TNuvDNS::QuerySrvTargets(std::u16string_view name,
                                                     const std::string& nameServer) {
    std::vector<std::u16string> targets = nuv::detail::QuerySrvRecords(name, nameServer);
    std::erase_if(targets, [](const std::u16string& host) { return !IsValidHostName(host); });
    return targets;
}

void nuv::detail::RaiseDnsFailure(std::u16string_view name, std::u16string_view reason) {
    throw Exception(Format(u"DNS query for %s failed: %s", name, reason));
}

bool nuv::detail::CurrentTaskCanceled() {
    const TNuvTask* task = TaskDispatcher().ActiveTaskOfCurrentThread();
    return task && task->IsCanceled();
}
