// The consoles of the simulated firmware: ConOut and StdErr record every
// OutputString call (ConOut's in the event list, in order with the command
// lines run; StdErr's apart, since the application never writes there), and
// ConIn is a keyboard on which no key is ever pressed.
#include "sim/internal.h"

namespace sim {
namespace {

EFI_STATUS EFIAPI OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *self, const CHAR16 *text) {
  Firmware::State *state = CurrentState();
  EFI_STATUS status;
  if (state->Fault(Call::OutputString, &status)) return status;
  if (text == nullptr) return EFI_INVALID_PARAMETER;
  std::u16string line(text);
  if (self == &state->con_out.protocol) {
    state->events.push_back(Event{Event::Console, line});
  } else if (self == &state->std_err.protocol) {
    state->stderr_lines.push_back(line);
  } else {
    state->Error("OutputString on a console that is not this firmware's");
    return EFI_INVALID_PARAMETER;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI InputReset(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, BOOLEAN) { return EFI_SUCCESS; }

EFI_STATUS EFIAPI ReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, void *) {
  return EFI_NOT_READY;
}

void SetUpOutput(Firmware::State *state, ConsoleDevice *device, bool is_stderr) {
  device->protocol.OutputString = OutputString;
  device->protocol.Mode = state->console_mode.data();
  device->is_stderr = is_stderr;
}

}  // namespace

void SetUpConsoles(Firmware::State *state) {
  EFI_SYSTEM_TABLE &st = state->system_table;
  state->con_in.Reset = reinterpret_cast<void *>(InputReset);
  state->con_in.ReadKeyStroke = reinterpret_cast<void *>(ReadKeyStroke);
  st.ConIn = &state->con_in;
  SetUpOutput(state, &state->con_out, false);
  st.ConOut = &state->con_out.protocol;
  SetUpOutput(state, &state->std_err, true);
  st.StdErr = state->options.with_stderr ? &state->std_err.protocol : nullptr;
}

}  // namespace sim
