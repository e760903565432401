// Choosing the report's form: one table of the four, in the order of
// Format. Every call goes to the chosen form; the writer flushes after
// each row, so a report piped into another program shows rows as they come.
#include "fleet/report_writer.h"

#include "fleet/report_csv.h"
#include "fleet/report_json.h"
#include "fleet/report_page.h"
#include "fleet/report_table.h"

namespace fleet {
namespace {

const ReportForm *const FORMS[] = {&TABLE_FORM, &CSV_FORM, &JSON_FORM, &PAGE_FORM};
static_assert(sizeof(FORMS) / sizeof(FORMS[0]) == static_cast<size_t>(Format::Html) + 1,
              "one form for each Format");

}  // namespace

ReportWriter::ReportWriter(Format format, std::ostream &out, const std::vector<KitInfo> &kits,
                           bool records)
    : form_(FORMS[static_cast<size_t>(format)]), state_(nullptr), out_(out) {
  FormStart start;
  start.out = &out;
  start.kits = kits;
  start.records = records;
  state_ = form_->Begin(start);
}

ReportWriter::~ReportWriter() { form_->Release(state_); }

void ReportWriter::Add(const FleetRow &row) {
  form_->Add(state_, row);
  out_.flush();
}

void ReportWriter::SetUnmatched(const std::vector<std::string> &unmatched, size_t count) {
  end_.unmatched = unmatched;
  end_.unmatched_count = count;
}

void ReportWriter::SetPageHeader(const PageHeader &header) { end_.header = header; }

void ReportWriter::Finish() {
  form_->Finish(state_, end_);
  out_.flush();
}

}  // namespace fleet
