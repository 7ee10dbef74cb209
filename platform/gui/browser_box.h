// Private to platform/gui: the browser box's Qt side. It owns the box's
// engine (platform/gui/browser/engine.h) and everything the box shows of its
// own: the save dialog (through the seam of qt_access.h) and the downloads
// window.
//
// Owns: carrying the engine's reports from its threads to the GUI thread,
// one save question at a time, the downloads window and its rows. Does not
// own: loading (the engine), the control's settings (controls.cpp).
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/gui/browser/engine.h"
#include "platform/gui/qt_access.h"

namespace qelvaro::gui::internal {

class DownloadsWindow;

class BrowserBox final : public browser::Client {
 public:
  // owner: the box's widget; reports are delivered through its event queue
  // and die with it.
  explicit BrowserBox(QWidget* owner);
  // Stops every load (their .part files go) and joins their threads first.
  ~BrowserBox() override;
  BrowserBox(const BrowserBox&) = delete;
  BrowserBox& operator=(const BrowserBox&) = delete;

  // Starts loading; returns at once. A background load shows nothing, ever.
  void Navigate(const std::string& address, bool background);

  std::vector<DownloadStatus> Statuses() const;
  QWidget* Window() const;

  // browser::Client, called on the engine's threads.
  void AskSave(const browser::SaveQuestion& question,
               std::function<void(const browser::SaveChoice&)> answer) override;
  void Started(browser::DownloadId id, const browser::DownloadStart& start) override;
  void Progress(browser::DownloadId id, std::uint64_t received) override;
  void Finished(browser::DownloadId id, std::uint64_t received,
                const browser::Outcome& outcome) override;

 private:
  struct Question {
    browser::SaveQuestion question;
    std::function<void(const browser::SaveChoice&)> answer;
  };
  // On the GUI thread.
  void Post(std::function<void()> work);
  void AskNext();
  DownloadsWindow* OpenWindow();

  QWidget* const owner_;
  std::deque<Question> questions_;
  bool asking_ = false;
  QPointer<DownloadsWindow> window_;
  browser::Engine engine_;
};

}  // namespace qelvaro::gui::internal
