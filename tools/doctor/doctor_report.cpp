#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tools/doctor/doctor.h"

namespace qel::tool {
namespace {

constexpr char kDoctorUsage[] =
    "usage: updatecheck doctor [--json]\n"
    "  Says what a host will find when it creates the update checker: whether the\n"
    "  class is registered machine-wide, per user or both, and which one wins; the\n"
    "  server file its LocalServer32 names, whether it exists and its version; the\n"
    "  type library for 64-bit and 32-bit hosts; the ProgIDs; and whether the object\n"
    "  can be created, with the result and its meaning.\n"
    "  Exit status: 0 a host can create the object, 2 it cannot.\n";

std::string Hex(int32_t number) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(number));
  return buffer;
}

// "machine-wide", "per-user", "both" or "none".
std::string Registered(const DoctorFindings& f) {
  if (f.machine.registered && f.user.registered) return "both";
  if (f.machine.registered) return "machine-wide";
  if (f.user.registered) return "per-user";
  return "none";
}

// The registration a host of this user finds: the per-user one comes first.
const ClassEntry* Winner(const DoctorFindings& f) {
  if (f.user.registered) return &f.user;
  if (f.machine.registered) return &f.machine;
  return nullptr;
}

void ClassLines(std::ostringstream& out, const char* label, const ClassEntry& entry) {
  out << label;
  if (!entry.registered) {
    out << "not registered\n";
    return;
  }
  if (entry.localServer32.empty()) {
    out << "registered, but without a LocalServer32 entry\n";
    return;
  }
  out << "LocalServer32 " << entry.localServer32 << "\n";
  out << "    file: " << entry.serverPath
      << (entry.serverExists ? " (exists" : " (MISSING: the file is not there)");
  if (entry.serverExists) {
    out << (entry.serverVersion.empty() ? ", no version resource)"
                                        : ", version " + entry.serverVersion + ")");
  }
  out << "\n";
}

nlohmann::ordered_json ClassJson(const ClassEntry& entry) {
  nlohmann::ordered_json json;
  json["registered"] = entry.registered;
  json["localServer32"] = entry.registered ? nlohmann::ordered_json(entry.localServer32) : nullptr;
  json["serverPath"] = entry.registered ? nlohmann::ordered_json(entry.serverPath) : nullptr;
  json["serverExists"] = entry.serverExists;
  json["serverVersion"] =
      entry.serverVersion.empty() ? nullptr : nlohmann::ordered_json(entry.serverVersion);
  return json;
}

}  // namespace

int DoctorExitStatus(const DoctorFindings& findings) { return findings.createResult >= 0 ? 0 : 2; }

std::string DoctorText(const DoctorFindings& f) {
  std::ostringstream out;
  if (f.inProcess) {
    out << "This build creates the update checker inside the tool: there is no COM "
           "registration to examine.\n";
  } else {
    out << "Class UpdateCheck registered: " << Registered(f);
    if (f.machine.registered && f.user.registered) {
      out << "; the per-user registration wins for this user";
    }
    out << "\n";
    ClassLines(out, "  machine-wide: ", f.machine);
    ClassLines(out, "  per-user:     ", f.user);
    out << "Type library:\n";
    for (const TypeLibraryEntry& library : f.typeLibraries) {
      out << "  " << library.kind << ": ";
      if (library.scope.empty()) {
        out << "not registered\n";
      } else {
        out << library.path << " (" << library.scope << ", "
            << (library.exists ? "exists" : "MISSING: the file is not there") << ")\n";
      }
    }
    out << "ProgIDs:\n";
    for (const ProgIdEntry& id : f.progIds) {
      out << "  " << id.name << ": "
          << (id.clsid.empty() ? "not registered"
              : id.ours        ? id.clsid
                               : id.clsid + " (another class)")
          << "\n";
    }
  }
  out << "Create UpdateCheck: "
      << (f.createResult >= 0 ? "yes, a host can create it" : "no, a host cannot create it") << " ("
      << Hex(f.createResult) << (f.createMeaning.empty() ? "" : ": " + f.createMeaning) << ")\n";
  if (f.createResult < 0) {
    const ClassEntry* winner = Winner(f);
    if (!winner) {
      out << "Register the server: QELUpdateCheck1_1.exe /RegServer (machine-wide, as an "
             "administrator) or /RegServerPerUser.\n";
    } else if (!winner->serverExists) {
      out << "The registration names a file that is not there: register the installed copy "
             "again (its /RegServer), or reinstall.\n";
    } else if (winner == &f.user && !f.machine.registered) {
      out << (f.underWine ? "Only a per-user registration exists, and Wine does not activate "
                            "classes registered per user: register machine-wide (/RegServer).\n"
                          : "Only a per-user registration exists: a host running elevated (as "
                            "an administrator) does not use it; register machine-wide "
                            "(/RegServer) for such hosts.\n");
    }
  }
  return out.str();
}

std::string DoctorJson(const DoctorFindings& f) {
  nlohmann::ordered_json json;
  json["creatable"] = f.createResult >= 0;
  json["createResult"] = f.createResult;
  json["createResultHex"] = Hex(f.createResult);
  json["meaning"] = f.createMeaning;
  json["inProcess"] = f.inProcess;
  json["underWine"] = f.underWine;
  if (!f.inProcess) {
    json["registered"] = Registered(f);
    const ClassEntry* winner = Winner(f);
    json["wins"] =
        !winner ? nullptr : nlohmann::ordered_json(winner == &f.user ? "per-user" : "machine-wide");
    json["machine"] = ClassJson(f.machine);
    json["user"] = ClassJson(f.user);
    nlohmann::ordered_json libraries = nlohmann::ordered_json::object();
    for (const TypeLibraryEntry& library : f.typeLibraries) {
      libraries[library.kind] =
          library.scope.empty()
              ? nlohmann::ordered_json(nullptr)
              : nlohmann::ordered_json{
                    {"path", library.path}, {"scope", library.scope}, {"exists", library.exists}};
    }
    json["typeLibrary"] = libraries;
    nlohmann::ordered_json ids = nlohmann::ordered_json::object();
    for (const ProgIdEntry& id : f.progIds) {
      ids[id.name] = id.clsid.empty() ? nullptr : nlohmann::ordered_json(id.clsid);
    }
    json["progIds"] = ids;
  }
  return json.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

CommandOutput RunDoctor(const std::vector<std::string>& args,
                        const std::function<DoctorFindings()>& diagnose) {
  bool json = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") return {0, kDoctorUsage, {}};
    if (args[i] != "--json") {
      return {2, {}, "updatecheck: doctor takes no '" + args[i] + "'\n" + kDoctorUsage};
    }
    json = true;
  }
  const DoctorFindings findings = diagnose();
  return {
      DoctorExitStatus(findings), json ? DoctorJson(findings) + "\n" : DoctorText(findings), {}};
}

}  // namespace qel::tool
