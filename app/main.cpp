// Qelvaro: finds songs on a music web service.
#include "app/fatal_error.h"
#include "app/program.h"
#include "platform/gui/runtime.h"

int main(int argc, char** argv) {
  qelvaro::SetFatalPresenter(qelvaro::gui::ShowFatalReport);
  return qelvaro::gui::RunProgram(argc, argv, qelvaro::StartProgram, qelvaro::WindowLoadFailure());
}
