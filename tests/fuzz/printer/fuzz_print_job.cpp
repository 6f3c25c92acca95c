// Any bytes as what reaches the fax printer from outside: a job header and a claim in the spool
// folder (a user may write anything there), the option string CUPS passes, a user name and a
// device URI as the backend gets them, and the piped job
// that is split into documents. Nothing may crash; a header that reads must write back to one
// that reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "printer/cups_options.h"
#include "printer/print_job.h"
#include "printer/spool_writer.h"

using namespace qv::printer;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TPrintJob job;
  std::string error;
  if (ParseJobHeader(text, job, &error)) {
    TPrintJob again;
    if (!ParseJobHeader(FormatJobHeader(job), again, &error)) std::abort();
    if (again.title != job.title || again.options != job.options ||
        again.documents.size() != job.documents.size())
      std::abort();
  } else if (error.empty()) {
    std::abort();  // a refusal always says why
  }
  TJobClaim claim;
  if (ParseJobClaim(text, claim, &error) && claim.record < 1) std::abort();
  for (const auto& [name, value] : ParseCupsOptions(text))
    if (name.empty()) std::abort();
  size_t total = 0;
  for (std::string_view doc : SplitPdfStream(text)) total += doc.size();
  if (total != size) std::abort();  // the split loses and adds nothing
  std::string back, again;
  if (UnescapeValue(text, back) && (!UnescapeValue(EscapeValue(back), again) || again != back))
    std::abort();
  const std::string user = SafeUserName(text);
  if (!user.empty() && (user.find('/') != std::string::npos || user[0] == '.')) std::abort();
  // A device URI names an absolute root without a ".." segment, or nothing.
  const std::string root = SpoolRootFromUri(text);
  if (!root.empty() && (root[0] != '/' || ("/" + root + "/").find("/../") != std::string::npos)) std::abort();
  return 0;
}
