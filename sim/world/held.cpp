// The account of what the program holds: every resource it acquired and has not released.
#include <cstdio>
#include <map>
#include <mutex>

#include "world.h"

namespace sim {

namespace {

struct Item {
    Json fields;
    std::function<void(Json &)> at_end;
};

// Threads the world did not start (a stress test's own) acquire and release too: the account has its
// own lock.
std::mutex g_mu;
std::map<HeldTicket, Item> g_items;  // tickets grow with each acquisition: the map is in that order
HeldTicket g_next = 1;

}  // namespace

HeldTicket Acquire(const char *kind, const std::string &name, Json keys, std::function<void(Json &)> at_end)
{
    Json fields = {{"kind", kind}, {"name", AnsiToUtf8(name)}};
    if (const PlatformCall *call = CurrentProgramCall()) {
        fields["by"] = call->name();
        fields["nth"] = call->nth();
    }
    for (auto &item : keys.items())
        fields[item.key()] = item.value();
    std::lock_guard<std::mutex> lock(g_mu);
    HeldTicket ticket = g_next++;
    g_items[ticket] = Item{std::move(fields), std::move(at_end)};
    return ticket;
}

void Release(HeldTicket ticket)
{
    std::lock_guard<std::mutex> lock(g_mu);
    g_items.erase(ticket);
}

void ReleaseRefused(HeldTicket ticket, const PlatformCall &call)
{
    std::lock_guard<std::mutex> lock(g_mu);
    auto it = g_items.find(ticket);
    if (it == g_items.end())
        return;
    it->second.fields["kept_by"] = call.name();
    it->second.fields["kept_nth"] = call.nth();
}

std::string HandleText(uintptr_t value)
{
    char text[32];
    snprintf(text, sizeof(text), "0x%llx", (unsigned long long)value);
    return text;
}

Json HeldItems()
{
    std::lock_guard<std::mutex> lock(g_mu);
    Json items = Json::array();
    for (auto &kv : g_items) {
        Json fields = kv.second.fields;
        if (kv.second.at_end)
            kv.second.at_end(fields);
        items.push_back(std::move(fields));
    }
    return items;
}

}  // namespace sim
