// The journal of a removal under way, so that a removal cut short runs only the
// rest when it is started again.
#pragma once

#include <string>

#include "plan/removal_plan.h"
#include "platform/platform.h"

// The subkey of the product's key that holds it.
extern const char kProgressKey[];

// Where the product's key is: HKEY_LOCAL_MACHINE when it is there, else
// HKEY_CURRENT_USER when it is there (a per-user install); both can be, and the
// removal deletes both.
struct ProductKeyPlace {
    platform::Hive hive = platform::Hive::kMachine;  // the one the journal, the plan and the log use
    bool exists = false;                             // in `hive`
};
ProductKeyPlace FindProductKey(platform::Platform& os, const std::string& key);
// "HKEY_LOCAL_MACHINE\..." or "HKEY_CURRENT_USER\...", for the log.
std::string KeyName(const std::string& key, platform::Hive hive);

// It lives in a subkey of the product's key: it goes with the key, and writing it
// leaves the key's own last-write time alone. Its first entry names the
// installation it belongs to: the manifest's file stamp and a hash of its bytes,
// and the key's last-write time once the journal was made. A repair or a reinstall
// writes the key or the manifest again (a file's index and time can even come back
// the same), and the journal no longer counts. Then each module command is
// recorded as started before it runs and as done once it ended well, with what its
// program was then (gone, or its index and times), and the key as going before it
// is deleted.
class Journal {
public:
    // What an earlier removal of this installation recorded, as far as it still
    // counts. `manifest` empty: the manifest is gone, and only the key can tell.
    Journal(platform::Platform& os, const RemovalPlan& plan, const std::string& manifest);
    bool Counts() const { return !entries_.empty(); }
    platform::Hive Hive() const { return hive_; }

    // Written as the removal starts, before anything runs, so that a rerun knows a
    // removal of this installation was under way. Making the subkey is the
    // removal's last write to the key itself before it deletes it. False when no
    // journal can be kept (a product key that is none is not even tried).
    bool Begin();

    bool Started(const std::string& command) const { return Has(kStarted + command); }
    // Done, and its program is still as it was then: one written again since (a
    // repair) runs again.
    bool Done(const std::string& command, const std::string& program) const;
    void Start(const std::string& command) { Add(kStarted + command); }
    // A command that could not even start was never under way.
    void Unstart(const std::string& command) { Drop(kStarted + command); }
    void Finish(const std::string& command, const std::string& program);
    void KeyGoes() { Add(kKeyGoes); }

private:
    static const char kStarted[], kDone[], kKeyGoes[];
    std::string DoneEntry(const std::string& command, const std::string& program) const;
    bool Has(const std::string& entry) const;
    void Add(const std::string& entry);
    void Drop(const std::string& entry);
    void Write();

    platform::Platform& os_;
    std::string productKey_, key_, manifest_;
    platform::Hive hive_ = platform::Hive::kMachine;
    platform::StringList entries_;
};
