#include "removal/journal.h"

#include "removal/ownership.h"

const char kProgressKey[] = "RemovalProgress";
const char Journal::kStarted[] = "started ";
const char Journal::kDone[] = "done ";
const char Journal::kKeyGoes[] = "the key goes";

namespace {

const char kJournalValue[] = "Journal";

bool Contains(const platform::StringList& list, const std::string& text) {
    for (const std::string& entry : list) {
        if (entry == text) return true;
    }
    return false;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ManifestStamp(platform::Platform& os, const std::string& manifest) {
    const platform::FileIdentity identity = os.Identify(manifest);
    std::string bytes, hash = "unread";
    if (os.FileBytes(manifest, &bytes)) {
        uint64_t fnv = 14695981039346656037ull;  // FNV-1a
        for (unsigned char c : bytes) fnv = (fnv ^ c) * 1099511628211ull;
        hash = std::to_string(fnv);
    }
    return "manifest " + std::to_string(identity.index) + " " + std::to_string(identity.lastWrite) + " " + hash;
}

std::string KeyStamp(uint64_t written) { return "; key " + std::to_string(written); }

}  // namespace

ProductKeyPlace FindProductKey(platform::Platform& os, const std::string& key) {
    ProductKeyPlace place;
    if (!IsProductKey(key)) return place;
    uint64_t written = 0;
    const bool machine = os.RegistryKeyExists(key, &written, platform::Hive::kMachine);
    const bool user = os.RegistryKeyExists(key, &written, platform::Hive::kUser);
    place.hive = machine || !user ? platform::Hive::kMachine : platform::Hive::kUser;
    place.exists = machine || user;
    return place;
}

std::string KeyName(const std::string& key, platform::Hive hive) {
    return (hive == platform::Hive::kUser ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\") + key;
}

Journal::Journal(platform::Platform& os, const RemovalPlan& plan, const std::string& manifest)
    : os_(os),
      productKey_(plan.productKey),
      key_(plan.productKey + "\\" + kProgressKey),
      manifest_(manifest),
      hive_(FindProductKey(os, plan.productKey).hive) {
    uint64_t written = 0;
    if (!IsProductKey(productKey_) || !os.RegistryKeyExists(productKey_, &written, hive_) || written == 0) return;
    platform::StringList found = os.ReadRegistryList(key_, kJournalValue, hive_);
    if (found.empty()) return;
    // Deleting the key's subkeys moves its time on: once the removal has begun
    // to delete the key, that time is its own doing.
    const bool counts = manifest.empty() ? EndsWith(found.front(), KeyStamp(written)) || Contains(found, kKeyGoes)
                                         : found.front() == ManifestStamp(os, manifest) + KeyStamp(written);
    if (counts) entries_ = std::move(found);
}

bool Journal::Begin() {
    uint64_t written = 0;
    if (!IsProductKey(productKey_)) return true;
    if (!os_.CreateRegistryKey(key_, hive_) || !os_.RegistryKeyExists(productKey_, &written, hive_) || written == 0) {
        entries_.clear();
        return false;
    }
    const std::string stamp = ManifestStamp(os_, manifest_) + KeyStamp(written);
    if (entries_.empty() || entries_.front() != stamp) entries_ = {stamp};
    Write();
    return true;
}

// What a module's program is now: gone, or its index and times, which a repair
// that writes it again moves on even where it sets the old write time back.
std::string Journal::DoneEntry(const std::string& command, const std::string& program) const {
    const platform::FileIdentity now = os_.Identify(program);
    const std::string stamp =
        now.known && !now.folder
            ? std::to_string(now.index) + "/" + std::to_string(now.lastWrite) + "/" + std::to_string(now.changed)
            : std::string("gone");
    return kDone + stamp + " " + command;
}

bool Journal::Done(const std::string& command, const std::string& program) const {
    return Counts() && Has(DoneEntry(command, program));
}

void Journal::Finish(const std::string& command, const std::string& program) { Add(DoneEntry(command, program)); }

bool Journal::Has(const std::string& entry) const { return Contains(entries_, entry); }

void Journal::Add(const std::string& entry) {
    if (entries_.empty()) return;
    entries_.push_back(entry);
    Write();
}

void Journal::Drop(const std::string& entry) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (*it != entry) continue;
        entries_.erase(it);
        Write();
        return;
    }
}

void Journal::Write() {
    if (!entries_.empty()) os_.WriteRegistryList(key_, kJournalValue, entries_, hive_);
}
