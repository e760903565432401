// The json form.
#include "fleet/report_json.h"

#include "fleet/row_codec.h"

namespace fleet {
namespace {

struct JsonForm {
  std::ostream *out;
  size_t rows = 0;
};

void *Begin(const FormStart &start) {
  *start.out << "[";
  return new JsonForm{start.out};
}

void Add(void *state, const FleetRow &row) {
  JsonForm *form = static_cast<JsonForm *>(state);
  *form->out << (form->rows++ == 0 ? "\n" : ",\n") << RowToJson(row);
}

void Finish(void *state, const FormEnd &) {
  JsonForm *form = static_cast<JsonForm *>(state);
  *form->out << (form->rows == 0 ? "]\n" : "\n]\n");
}

void Release(void *state) { delete static_cast<JsonForm *>(state); }

}  // namespace

const ReportForm JSON_FORM = {Begin, Add, Finish, Release};

}  // namespace fleet
