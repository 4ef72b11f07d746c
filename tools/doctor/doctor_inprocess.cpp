// The Linux build's doctor: the object lives inside the tool, so there is no
// registration to examine; it only creates the object as the check does.
#include "common/error.h"
#include "common/text.h"
#include "service/UpdateCheck.h"
#include "tools/doctor/doctor.h"

namespace qel::tool {

DoctorFindings Diagnose() {
  DoctorFindings findings;
  findings.inProcess = true;
  try {
    const auto check = UpdateCheck::Create();
    findings.createMeaning = "created in process";
  } catch (const Error& e) {
    findings.createResult = e.Number() < 0 ? e.Number() : -1;
    findings.createMeaning = TextToUtf8(e.Description());
  }
  return findings;
}

}  // namespace qel::tool
