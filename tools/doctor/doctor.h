// updatecheck doctor: what a host will find when it creates UpdateCheck, in
// plain words: the class's registrations (machine-wide, per user), the server
// file they name, the type library, the programmatic names, and whether the
// object can be created.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/command_output.h"

namespace qel::tool {

// The class as one registry hive holds it.
struct ClassEntry {
  bool registered = false;
  std::string localServer32;  // the value as written, UTF-8
  std::string serverPath;     // the executable it names
  bool serverExists = false;
  std::string serverVersion;  // "1.2.3.4" from the file's version resource; empty without one
};

struct TypeLibraryEntry {
  std::string kind;   // "win64" or "win32"
  std::string scope;  // "per-user" or "machine-wide"; empty when not registered
  std::string path;
  bool exists = false;
};

struct ProgIdEntry {
  std::string name;
  std::string clsid;  // what the name maps to; empty when it is not registered
  bool ours = false;  // it maps to UpdateCheck
};

struct DoctorFindings {
  bool inProcess = false;  // this build creates the object inside the tool: nothing to register
  bool underWine = false;  // Wine's COM, which does not activate per-user classes
  ClassEntry machine;
  ClassEntry user;
  std::vector<TypeLibraryEntry> typeLibraries;
  std::vector<ProgIdEntry> progIds;
  int32_t createResult = 0;  // the HRESULT of creating UpdateCheck as a host does
  std::string createMeaning;
};

std::string DoctorText(const DoctorFindings& findings);
std::string DoctorJson(const DoctorFindings& findings);
// 0 when a host can create the object, 2 otherwise.
int DoctorExitStatus(const DoctorFindings& findings);

// The command: "doctor [--json]", or its usage for --help / -h.
CommandOutput RunDoctor(const std::vector<std::string>& args,
                        const std::function<DoctorFindings()>& diagnose);

// What this build finds (the registry and COM in the Windows build).
DoctorFindings Diagnose();

}  // namespace qel::tool
