#include "console/rules/mdns_records.h"

#include <algorithm>
#include <cstring>

const char MdnsPortType[] = "_iostream._tcp";
const char MdnsAttachType[] = "_brisvane._tcp";
const char MdnsWebType[] = "_http._tcp";

namespace {

const size_t TxtStringMax = 255;
const size_t LabelMax = 63;

void AddKey(std::vector<std::string>& txt, const char* key, const std::string& value) {
    if (value.empty()) return;
    std::string item = std::string(key) + "=" + value;
    if (item.size() > TxtStringMax) item.resize(TxtStringMax);
    txt.push_back(item);
}

void AddDevice(std::vector<std::string>& txt, const MdnsDeviceFacts& device) {
    if (!device.local) return;
    AddKey(txt, "devicetype", "serialdev");
    AddKey(txt, "idVendor", device.vendor);
    AddKey(txt, "idProduct", device.product);
    AddKey(txt, "serial", device.serial);
    AddKey(txt, "manufacturer", device.manufacturer);
    AddKey(txt, "product", device.productName);
}

bool Same(const MdnsFound& f, const char* name, const char* type, const char* domain) {
    return f.name == name && f.type == type && f.domain == domain;
}

// A UTF-8 string cut at `limit` bytes without splitting a character.
std::string CutLabel(std::string text) {
    if (text.size() <= LabelMax) return text;
    size_t end = LabelMax;
    while (end > 0 && (uint8_t(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

std::string HostPort(const MdnsFound& f) {
    bool six = f.address.find(':') != std::string::npos;
    return (six ? "[" + f.address + "]" : f.address) + ":" + std::to_string(f.port);
}

bool HasKey(const MdnsFound& f, const char* item) {
    return std::find(f.txt.begin(), f.txt.end(), std::string(item)) != f.txt.end();
}

// How brisvane reaches a service: its RFC 2217 or raw port as a network
// line, a served line's attach accepter as --attach takes it.
std::string Reach(const MdnsFound& f) {
    if (!f.resolved) return "(not resolved)";
    if (f.type == MdnsAttachType) return "--attach tcp:" + HostPort(f);
    bool raw = HasKey(f, "gensiostack=tcp");
    return (raw ? "tcp://" : "rfc2217://") + HostPort(f);
}

}  // namespace

std::vector<std::string> PortServiceTxt(const MdnsDeviceFacts& device) {
    std::vector<std::string> txt = {"provider=brisvane", "gensiostack=telnet(rfc2217),tcp"};
    AddDevice(txt, device);
    return txt;
}

std::vector<std::string> AttachServiceTxt(const MdnsDeviceFacts& device) {
    std::vector<std::string> txt = {"provider=brisvane"};
    AddDevice(txt, device);
    return txt;
}

std::vector<std::string> WebServiceTxt() { return {"provider=brisvane", "path=/"}; }

std::string MdnsServiceName(const char* given, const char* profile, const char* device) {
    if (given != nullptr && given[0] != '\0') return CutLabel(given);
    if (profile != nullptr && profile[0] != '\0') return CutLabel(profile);
    const char* slash = device != nullptr ? std::strrchr(device, '/') : nullptr;
    const char* base = slash != nullptr ? slash + 1 : device;
    if (base == nullptr || base[0] == '\0') return "brisvane";
    return CutLabel(base);
}

bool MdnsSeen(MdnsTable& table, const char* name, const char* type, const char* domain) {
    for (const MdnsFound& f : table.found) {
        if (Same(f, name, type, domain)) return false;
    }
    if (table.found.size() >= MdnsMaxFound) return false;
    MdnsFound f;
    f.name = name;
    f.type = type;
    f.domain = domain;
    table.found.push_back(f);
    return true;
}

void MdnsGone(MdnsTable& table, const char* name, const char* type, const char* domain) {
    table.found.erase(std::remove_if(table.found.begin(), table.found.end(),
                                     [&](const MdnsFound& f) { return Same(f, name, type, domain); }),
                      table.found.end());
}

void MdnsResolved(MdnsTable& table, const char* name, const char* type, const char* domain, const char* host,
                  const char* address, uint16_t port, const std::vector<std::string>& txt) {
    for (MdnsFound& f : table.found) {
        if (!Same(f, name, type, domain) || f.resolved) continue;
        f.resolved = true;
        f.host = host;
        f.address = address;
        f.port = port;
        f.txt = txt;
        std::sort(f.txt.begin(), f.txt.end());
    }
}

unsigned MdnsUnresolved(const MdnsTable& table) {
    unsigned count = 0;
    for (const MdnsFound& f : table.found) count += f.resolved ? 0 : 1;
    return count;
}

std::string FormatMdnsTable(const MdnsTable& table) {
    std::vector<const MdnsFound*> order;
    for (const MdnsFound& f : table.found) order.push_back(&f);
    std::sort(order.begin(), order.end(), [](const MdnsFound* a, const MdnsFound* b) {
        return a->name != b->name ? a->name < b->name : a->type < b->type;
    });
    std::string text = "lines on the network (mDNS):\n";
    if (order.empty()) text += "  none found\n";
    for (const MdnsFound* f : order) {
        text += "  mdns:" + f->name + "  " + Reach(*f) + "  (" + f->type + " on " +
                (f->resolved ? f->host : "?") + ")\n";
        if (f->txt.empty()) continue;
        std::string keys;
        for (const std::string& item : f->txt) keys += (keys.empty() ? "" : " ") + item;
        text += "    " + keys + "\n";
    }
    return text;
}

MdnsTarget MdnsChoose(const MdnsTable& table, const char* name, bool preferAttach) {
    const MdnsFound *port = nullptr, *attach = nullptr;
    for (const MdnsFound& f : table.found) {
        if (f.name != name || !f.resolved) continue;
        if (f.type == MdnsAttachType && attach == nullptr) attach = &f;
        if (f.type == MdnsPortType && port == nullptr) port = &f;
    }
    MdnsTarget target;
    const MdnsFound* chosen = attach != nullptr && (preferAttach || port == nullptr) ? attach : port;
    if (chosen == nullptr) return target;
    target.pick = chosen == attach ? MdnsPick::Attach : MdnsPick::Network;
    target.where = chosen == attach ? "tcp:" + HostPort(*chosen) : Reach(*chosen);
    return target;
}

std::string MdnsFoundNames(const MdnsTable& table) {
    std::vector<std::string> names;
    for (const MdnsFound& f : table.found) {
        if (std::find(names.begin(), names.end(), f.name) == names.end()) names.push_back(f.name);
    }
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text.empty() ? "nothing" : text;
}
