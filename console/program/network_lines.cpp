#include "console/program/network_lines.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/features/mdns/advertise.h"
#include "console/features/mdns/browse.h"
#include "console/line/net_address.h"
#include "console/line/serial_devices.h"
#include "console/program/session.h"
#include "console/program/served.h"
#include "console/rules/mdns_records.h"
#include "console/rules/share_address.h"
#include "console/rules/web_auth.h"

namespace {

const unsigned ListMilliseconds = 1000;
const unsigned FindMilliseconds = 1800;  // a name not found exits within 2 s
const char MdnsPrefix[] = "mdns:";

void SayFromMdns(void*, const char* text) { SayServed(text); }

// What sysfs says of the line's device, found by its node.
MdnsDeviceFacts DeviceFacts(const ConsoleOptions& o) {
    MdnsDeviceFacts facts;
    if (IsNetworkDevice(o.device)) return facts;
    facts.local = true;
    DeviceRoots roots = {o.sysfsRoot, o.devRoot};
    std::string path;
    char problem[256];
    if (ResolveDeviceName(roots, o.device, &path, problem, sizeof problem) != Resolved::Found) return facts;
    char wanted[PATH_MAX], node[PATH_MAX];
    if (realpath(path.c_str(), wanted) == nullptr) return facts;
    for (const SerialDevice& d : ScanSerialDevices(roots)) {
        if (realpath(d.path.c_str(), node) == nullptr || std::strcmp(node, wanted) != 0) continue;
        facts.vendor = d.vendor;
        facts.product = d.product;
        facts.serial = d.serial;
        facts.manufacturer = d.manufacturer;
        facts.productName = d.productName;
        break;
    }
    return facts;
}

bool Loopback(const char* host) {
    return std::strncmp(host, "127.", 4) == 0 || std::strcmp(host, "::1") == 0 ||
           std::strcmp(host, "[::1]") == 0 || std::strcmp(host, "localhost") == 0;
}

// The port of a tcp:[HOST:]PORT form; 0 for another form. *loopback: it
// listens where only this machine reaches it.
uint16_t TcpPort(const char* tcpForm, bool* loopback) {
    ShareAddress address;
    const char* problem;
    if (!ParseShareAddress(tcpForm, &address, &problem) || address.unixSocket) return 0;
    *loopback = *loopback || Loopback(address.host);
    return uint16_t(std::atoi(address.port));
}

}  // namespace

void AdvertiseServed(Session& c, const char* profile) {
    const ConsoleOptions& o = c.options;
    MdnsDeviceFacts facts = DeviceFacts(o);
    std::vector<MdnsService> services;
    bool loopback = false;
    for (unsigned i = 0; i < o.portShareCount; ++i) {
        if (std::strncmp(o.portShares[i], "rfc2217:", 8) != 0) continue;
        uint16_t port = TcpPort((std::string("tcp:") + (o.portShares[i] + 8)).c_str(), &loopback);
        if (port != 0) services.push_back({MdnsPortType, port, PortServiceTxt(facts)});
        break;  // one name holds one service of a type
    }
    uint16_t attach = o.share[0] != '\0' ? TcpPort(o.share, &loopback) : 0;
    if (attach == 0 && o.shareOther[0] != '\0') attach = TcpPort(o.shareOther, &loopback);
    if (attach != 0) services.push_back({MdnsAttachType, attach, AttachServiceTxt(facts)});
    char host[256];
    int webPort = 0;
    const char* problem;
    if (o.web[0] != '\0' && ParseWebAddress(o.web, host, sizeof host, &webPort, &problem) && webPort > 0) {
        services.push_back({MdnsWebType, uint16_t(webPort), WebServiceTxt()});
        loopback = loopback || Loopback(host);
    }
    std::string name = MdnsServiceName(o.mdnsName, profile, o.device);
    StartAdvertising(c.features.mdns, name, services, SayFromMdns, nullptr);
    // The records name this host's addresses, which a loopback accepter does not answer on.
    if (loopback && AdvertisedName(c.features.mdns)[0] != '\0')
        SayServed("mDNS: an accepter on a loopback address is reached only from this machine");
}

void ListNetworkLines(FILE* out) {
    MdnsTable table;
    if (BrowseLines(&table, ListMilliseconds, nullptr) == BrowseResult::NoDaemon) {
        std::fprintf(out, "mDNS: no avahi-daemon running\n");
        return;
    }
    std::fputs(FormatMdnsTable(table).c_str(), out);
}

bool ResolveMdnsDevice(ConsoleOptions* o, char* message, unsigned capacity) {
    if (std::strncmp(o->device, MdnsPrefix, sizeof MdnsPrefix - 1) != 0) return true;
    const char* name = o->device + sizeof MdnsPrefix - 1;
    if (name[0] == '\0') {
        std::snprintf(message, capacity, "mdns: needs a name (brisvane --list shows those found)");
        return false;
    }
    MdnsTable table;
    if (BrowseLines(&table, FindMilliseconds, name) == BrowseResult::NoDaemon) {
        std::snprintf(message, capacity, "%s: mDNS: no avahi-daemon running", o->device);
        return false;
    }
    // Attaching needs the token and a terminal; a port needs neither.
    bool preferAttach = o->tokenPath[0] != '\0' && !o->batch && !o->serve;
    MdnsTarget target = MdnsChoose(table, name, preferAttach);
    if (target.pick == MdnsPick::NotFound) {
        std::snprintf(message, capacity, "%s: not found on the network; found: %s", o->device,
                      MdnsFoundNames(table).c_str());
        return false;
    }
    char* into = target.pick == MdnsPick::Attach ? o->attach : o->device;
    std::snprintf(into, PathCapacity, "%s", target.where.c_str());
    if (target.pick == MdnsPick::Attach) o->device[0] = '\0';
    return true;
}

int64_t MdnsDue(const Session& c) { return AdvertiseDue(c.features.mdns); }

Reaction MdnsTimers(Session& c, int64_t now) {
    AdvertiseTimers(c.features.mdns, now);
    return Nothing;
}
