// The filter dialog as a user works it, headless: every control, the
// preview's mouse handling and the dialog's sizing, through DissolveProc and
// the same window-system messages Windows sends.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "dialog/dialog_controller.h"
#include "dialog/dialog_template.h"
#include "dialog/filter_dialog.h"
#include "dialog/preview_paint.h"
#include "dialog/preview_interaction.h"
#include "platform/headless/driver_api.h"
#include "platform/headless/file_dialog_answer.h"
#include "plugin/scripting_keys.h"
#include "settings/settings_commands.h"
#include "settings/settings_file.h"
#include "plugin/call_state.h"
#include "plugin/parameters.h"
#include "render/transfer_tables.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;

namespace {

struct Painted {
  int count = 0;
  std::vector<uint8> firstRow;  // R, G, B of the top row as displayPixels got it
  int32 dstRow = 0, dstCol = 0;
};
Painted gPainted;

OSErr CountPaint(const PSPixelMap* map, const VRect* bounds, int32 row, int32 col, void*) {
  ++gPainted.count;
  gPainted.dstRow = row;
  gPainted.dstCol = col;
  gPainted.firstRow.clear();
  const uint8* base = static_cast<const uint8*>(map->baseAddr);
  for (int32 x = 0; base && x < bounds->right - bounds->left; ++x)
    for (int p = 0; p < 3; ++p) gPainted.firstRow.push_back(base[x * map->colBytes + p * map->planeBytes]);
  return noErr;
}

// The top row of a planar proxy buffer, interleaved like the paint's.
std::vector<uint8> FirstRow(const ProxyBuffer& b) {
  std::vector<uint8> row;
  for (int32 x = 0; b.pixels && x < gPreviewState.proxyWidth; ++x)
    for (int p = 0; p < 3; ++p) row.push_back(b.pixels[x + p * gPreviewState.proxyPlaneSize]);
  return row;
}

// Only the call's two transfer tables are still held: the preview gave its
// buffers back.
::testing::AssertionResult PreviewBuffersGone(const Host& h) {
  std::string why;
  h.Balanced(&why);
  if (const_cast<Host&>(h).buffers().LiveCount() == 2 && why == "2 buffer(s) not freed; 2 buffer(s) left locked; ")
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << why;
}

// Runs the dialog on a document with `play` as the user; returns the
// dialog's result. The record, view and preview stay for inspection.
class DialogRun {
 public:
  typedef std::function<void(HWND dialog)> Player;

  explicit DialogRun(Document d = Photo(), host::HostOptions options = {})
      : host(std::move(d), options), scope(host) {
    ResetParameters(parameters);
    gCallState = CallState{};
    gCallState.filterRecord = &host.record();
    gCallState.parameters = &parameters;
    gCallState.result = &result;
    gProxyViewState = ProxyViewState{};
    gInteraction = InteractionState{};
    host.record().displayPixels = &CountPaint;
    gPainted = Painted{};
    api = headless::DriverApi();
    const RECT work{0, 0, 1280, 984};
    api->SetWorkArea(&work);
  }
  ~DialogRun() {
    api->SetDialogDriver(nullptr, nullptr);
    gCallState = CallState{};
  }

  INT_PTR Run(Player play) {
    player = std::move(play);
    api->SetDialogDriver(&DialogRun::Drive, this);
    const INT_PTR r = RunFilterDialog(host.record());
    api->SetDialogDriver(nullptr, nullptr);
    return r;
  }

  static Document Photo() {
    Document d = host::MakeDocument(300, 200, 3, 8);
    FillNoise(d, 3);
    return d;
  }

  // Helpers for players.
  HWND Item(HWND dialog, int id) const { return api->GetDlgItem(dialog, id); }
  std::string Text(HWND dialog, int id) const {
    char text[256] = {};
    api->GetWindowText(Item(dialog, id), text, sizeof text);
    return text;
  }
  intptr_t Position(HWND dialog, int id) const {
    return api->SendMessage(Item(dialog, id), TBM_GETPOS, 0, 0);
  }
  void Type(HWND dialog, int id, const char* text) const { api->Type(Item(dialog, id), text); }
  void Clear(HWND dialog, int id) const { api->ClearText(Item(dialog, id)); }
  RECT Image(HWND dialog) const { return PreviewImageRect(dialog); }
  void Press(HWND dialog, UINT message, int x, int y) const { api->MouseButton(dialog, message, x, y); }

  Host host;
  CallScope scope;
  FilterParameters parameters{};
  int16 result = 0;
  const KestrelleHeadlessApi* api = nullptr;
  Player player;

 private:
  static void Drive(HWND dialog, void* context) {
    DialogRun* run = static_cast<DialogRun*>(context);
    if (run->player) run->player(dialog);
  }
};

void PressOk(const DialogRun& run, HWND dialog) { run.api->Click(run.Item(dialog, IDOK)); }

}  // namespace

TEST(Dialog, OpensFilledInAndEndsWithOkOrCancel) {
  DialogRun run;
  run.parameters.redGain = 1.25;
  INT_PTR r = run.Run([&](HWND d) {
    char caption[64] = {};
    run.api->GetWindowText(d, caption, sizeof caption);
    EXPECT_STREQ(caption, "Kestrelle v1.0.7");
    EXPECT_EQ(run.Text(d, 22), "1.25");
    EXPECT_EQ(run.Position(d, 21), 125);
    EXPECT_EQ(run.Text(d, 32), "0.0");
    EXPECT_EQ(run.Position(d, 31), 0);
    EXPECT_EQ(run.Text(d, 92), "100.0");
    EXPECT_GT(gPainted.count, 0);  // the preview was painted through displayPixels
    EXPECT_NE(gPreviewState.proxyWork.pixels, nullptr);
    PressOk(run, d);
  });
  EXPECT_EQ(r, IDOK);
  EXPECT_EQ(gPreviewState.proxyWork.pixels, nullptr);  // released before the dialog ended
  EXPECT_TRUE(PreviewBuffersGone(run.host));
  EXPECT_EQ(run.Run([&](HWND d) { run.api->Click(run.Item(d, IDCANCEL)); }), IDCANCEL);
  EXPECT_TRUE(PreviewBuffersGone(run.host));
  // A driver that walks away: the dialog is cancelled and cleans up all the same.
  EXPECT_EQ(run.Run([&](HWND) {}), IDCANCEL);
  EXPECT_TRUE(PreviewBuffersGone(run.host));
}

// Tables in the module's own memory (a host without buffer procs) are no
// reason to complain; tables that exist nowhere are, and the dialog still
// opens.
TEST(Dialog, ReportsMissingTransferTablesOnlyWhenThereAreNone) {
  host::HostOptions noBuffers;
  noBuffers.offerBufferProcs = false;
  {
    DialogRun run(DialogRun::Photo(), noBuffers);
    ASSERT_EQ(gTransferTables.cspaceBufferID_LUT1, nullptr);
    MessageCapture capture;
    EXPECT_EQ(run.Run([&](HWND d) { PressOk(run, d); }), IDOK);
    EXPECT_TRUE(capture.messages().empty());
  }
  DialogRun run(DialogRun::Photo(), noBuffers);
  const TransferTables kept = gTransferTables;
  gTransferTables = TransferTables{};
  MessageCapture capture;
  EXPECT_EQ(run.Run([&](HWND d) { PressOk(run, d); }), IDOK);
  gTransferTables = kept;
  ASSERT_EQ(capture.messages().size(), 1u);
  EXPECT_EQ(capture.messages()[0].text, "Verdaline internal error: color space buffers not created.");
}

TEST(Dialog, DraggingAThumbSetsTheFieldAndTheEditTextOnce) {
  DialogRun run;
  run.Run([&](HWND d) {
    const uint32 before = gPreviewState.renders;
    run.api->DragThumb(run.Item(d, 21), 137);
    EXPECT_EQ(run.parameters.redGain, 1.37);
    EXPECT_EQ(run.Text(d, 22), "1.37");
    EXPECT_EQ(gDialogState.recordedPositions[0], 137);
    // The edit box's change did not re-enter the edit handler: one render.
    EXPECT_EQ(gPreviewState.renders, before + 1);
    PressOk(run, d);
  });
}

TEST(Dialog, TypingFollowsEveryKeystroke) {
  DialogRun run;
  run.Run([&](HWND d) {
    run.Clear(d, 42);  // emptied: the default
    EXPECT_EQ(run.parameters.greenGain, 1.0);
    EXPECT_EQ(run.Position(d, 41), 100);
    const double expected[] = {1.0, 1.0, 1.5};
    const intptr_t positions[] = {100, 100, 150};
    const char* keys[] = {"1", ".", "5"};
    for (int i = 0; i < 3; ++i) {
      const uint32 before = gPreviewState.renders;
      run.Type(d, 42, keys[i]);
      EXPECT_EQ(run.parameters.greenGain, expected[i]) << i;
      EXPECT_EQ(run.Position(d, 41), positions[i]) << i;
      EXPECT_EQ(gPreviewState.renders, before + 1) << i;
    }
    EXPECT_EQ(run.Text(d, 42), "1.5");  // the text stays as typed

    run.Clear(d, 32);
    run.Type(d, 32, "-0.497");
    EXPECT_EQ(run.parameters.redGainFine, -0.497);
    EXPECT_EQ(run.Position(d, 31), -49);

    run.Clear(d, 92);
    run.Type(d, 92, "250");
    EXPECT_EQ(run.parameters.highlightRolloff, 250.0);  // not clamped to the trackbar
    EXPECT_EQ(run.Position(d, 91), 200);

    run.Clear(d, 22);
    run.Type(d, 22, "abc");
    EXPECT_EQ(run.parameters.redGain, 1.0);
    EXPECT_EQ(run.Text(d, 22), "abc");
    PressOk(run, d);
  });
}

TEST(Dialog, DoubleClickingALabelResetsOnlyItsValue) {
  DialogRun run;
  run.parameters.blueGain = 1.8;
  run.parameters.redGain = 0.7;
  run.Run([&](HWND d) {
    const uint32 before = gPreviewState.renders;
    run.api->DoubleClick(run.Item(d, 60));
    EXPECT_EQ(run.parameters.blueGain, 1.0);
    EXPECT_EQ(run.Text(d, 62), "1.0");
    EXPECT_EQ(run.parameters.redGain, 0.7);
    EXPECT_EQ(gPreviewState.renders, before + 1);
    PressOk(run, d);
  });
}

TEST(Dialog, ResetRestoresEverythingAndRendersOnce) {
  DialogRun run;
  run.parameters.redGain = 2;
  run.parameters.highlightRolloff = 40;
  run.parameters.ignoreSelection = true;
  run.Run([&](HWND d) {
    run.api->Click(run.Item(d, kIdShowOriginal));
    EXPECT_TRUE(gPreviewState.showOriginal);
    const uint32 before = gPreviewState.renders;
    run.api->Click(run.Item(d, kIdReset));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(ParameterAt(run.parameters, i), DefaultParameterValue(i));
    EXPECT_FALSE(run.parameters.ignoreSelection);
    EXPECT_EQ(run.api->SendMessage(run.Item(d, kIdShowOriginal), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_FALSE(gPreviewState.showOriginal);
    EXPECT_EQ(run.Text(d, 92), "100.0");
    EXPECT_EQ(run.Position(d, 21), 100);
    EXPECT_EQ(gPreviewState.renders, before + 1);
    PressOk(run, d);
  });
}

TEST(Dialog, ShowOriginalPaintsTheUnfilteredProxy) {
  DialogRun run;
  run.Run([&](HWND d) {
    run.api->Click(run.Item(d, kIdShowOriginal));
    run.api->DragThumb(run.Item(d, 21), 180);
    EXPECT_EQ(run.parameters.redGain, 1.8);  // parameters still change
    run.api->Pump();
    EXPECT_EQ(gPainted.firstRow, FirstRow(gPreviewState.proxySource));
    run.api->Click(run.Item(d, kIdShowOriginal));
    run.api->Pump();
    EXPECT_EQ(gPainted.firstRow, FirstRow(gPreviewState.proxyWork));
    EXPECT_NE(gPainted.firstRow, FirstRow(gPreviewState.proxySource));
    PressOk(run, d);
  });
}

TEST(Dialog, OpensAtTheRememberedSizeWithinTheWorkArea) {
  {
    DialogRun run;  // remembered 1920 x 1080, work area 1280 x 984
    run.Run([&](HWND d) {
      RECT r{};
      run.api->GetWindowRect(d, &r);
      EXPECT_EQ(r.left, 0);
      EXPECT_EQ(r.top, 0);
      EXPECT_EQ(r.right - r.left, 1280);
      EXPECT_EQ(r.bottom - r.top, 984);
      EXPECT_EQ(gProxyViewState.dialogWidth, 1280);
      PressOk(run, d);
    });
  }
  {
    DialogRun run;
    gProxyViewState.dialogWidth = 100;  // below the template size
    gProxyViewState.dialogHeight = 100;
    run.Run([&](HWND d) {
      RECT r{};
      run.api->GetWindowRect(d, &r);
      EXPECT_EQ(r.right - r.left, gDialogState.minimumDialogWidth);
      EXPECT_EQ(r.bottom - r.top, gDialogState.minimumDialogHeight);
      PressOk(run, d);
    });
  }
  {
    DialogRun run;
    const RECT tiny{0, 0, 500, 300};  // smaller than the template
    run.api->SetWorkArea(&tiny);
    run.Run([&](HWND d) {
      RECT r{};
      run.api->GetWindowRect(d, &r);
      EXPECT_EQ(r.right - r.left, 500);
      EXPECT_EQ(r.bottom - r.top, 300);
      PressOk(run, d);
    });
  }
}

TEST(Dialog, TheEyedropperPicksTheAreaUnderTheMouse) {
  // Left half grey-blue, right half warm: a click picks one pixel.
  Document d = host::MakeDocument(300, 200, 3, 8);
  for (int32 y = 0; y < 200; ++y)
    for (int32 x = 0; x < 300; ++x) {
      d.Set<uint8>(x, y, 0, x < 150 ? 100 : 200);
      d.Set<uint8>(x, y, 1, x < 150 ? 200 : 100);
      d.Set<uint8>(x, y, 2, 150);
    }
  DialogRun run(d);
  gProxyViewState.zoomLevel = 1;
  run.Run([&](HWND dlg) {
    const RECT image = run.Image(dlg);
    run.api->Click(run.Item(dlg, kIdEyedropper));
    EXPECT_EQ(gInteraction.toolMode, EyedropperArmed);
    EXPECT_EQ(run.api->CurrentCursor(), kHeadlessCross);
    const int x = image.left + 10, y = image.top + 10;
    run.Press(dlg, WM_LBUTTONDOWN, x, y);
    EXPECT_EQ(gInteraction.toolMode, EyedropperDragging);
    run.Press(dlg, WM_LBUTTONUP, x, y);
    EXPECT_EQ(gInteraction.toolMode, ToolIdle);
    // One pixel at (10, 10): averages (100, 200, 150).
    EXPECT_EQ(gInteraction.areaEnd.h - gInteraction.areaStart.h, 1);  // exactly one pixel
    EXPECT_EQ(gInteraction.areaEnd.v - gInteraction.areaStart.v, 1);
    EXPECT_FLOAT_EQ(run.parameters.redGain, 1.5);
    EXPECT_FLOAT_EQ(run.parameters.greenGain, 0.75);
    EXPECT_EQ(run.Text(dlg, 22), "1.5");  // the controls show the new gains

    // Pressed outside the image: cancelled, nothing changes.
    run.parameters.redGain = 1.0;
    run.api->Click(run.Item(dlg, kIdEyedropper));
    run.Press(dlg, WM_LBUTTONDOWN, 2, 2);
    EXPECT_EQ(gInteraction.toolMode, ToolIdle);
    EXPECT_EQ(run.api->CurrentCursor(), kHeadlessArrow);
    run.Press(dlg, WM_LBUTTONUP, 2, 2);
    EXPECT_EQ(run.parameters.redGain, 1.0);

    // Released outside the image: still a pick, the end clamped.
    run.api->Click(run.Item(dlg, kIdEyedropper));
    run.Press(dlg, WM_LBUTTONDOWN, image.right - 5, image.bottom - 5);
    run.Press(dlg, WM_LBUTTONUP, image.right + 200, image.bottom + 200);
    EXPECT_EQ(gInteraction.areaEnd.h, 300);
    EXPECT_EQ(gInteraction.areaEnd.v, 200);
    // The warm half, (200, 100, 150): reference 200, gains 1, 2, 1.33.
    EXPECT_FLOAT_EQ(run.parameters.redGain, 1.0);
    EXPECT_FLOAT_EQ(run.parameters.greenGain, 2.0);

    // Dragged up and to the left: the corners come in reverse.
    run.api->Click(run.Item(dlg, kIdEyedropper));
    run.Press(dlg, WM_LBUTTONDOWN, image.left + 40, image.top + 40);
    run.Press(dlg, WM_LBUTTONUP, image.left + 20, image.top + 30);
    EXPECT_EQ(gInteraction.areaStart.h, 40);
    EXPECT_EQ(gInteraction.areaEnd.h, 21);
    PressOk(run, dlg);
  });
}

TEST(Dialog, TheWheelZoomsByNotchesAndCarriesPartialTurns) {
  Document big = host::MakeDocument(2000, 1500, 3, 8);
  FillNoise(big, 4);
  DialogRun run(big);
  const RECT small{0, 0, 700, 500};  // the dialog at its smallest: a frame of about 318 x 356
  run.api->SetWorkArea(&small);
  gProxyViewState.zoomLevel = 4;
  run.Run([&](HWND d) {
    RECT frame{};
    run.api->GetWindowRect(run.Item(d, kIdPreviewFrame), &frame);
    const RECT client = PreviewFrameRect(d);
    const int x = (client.left + client.right) / 2, y = (client.top + client.bottom) / 2;
    run.api->Wheel(d, x, y, 120);  // away from the user: in
    EXPECT_EQ(gProxyViewState.zoomLevel, 3);
    for (int i = 0; i < 3; ++i) run.api->Wheel(d, x, y, -30);
    EXPECT_EQ(gProxyViewState.zoomLevel, 3);  // three quarters of a notch
    run.api->Wheel(d, x, y, -30);
    EXPECT_EQ(gProxyViewState.zoomLevel, 4);
    run.api->Wheel(d, 2, 2, 120);  // outside the frame: nothing
    EXPECT_EQ(gProxyViewState.zoomLevel, 4);
    (void)frame;
    PressOk(run, d);
  });
}

TEST(Dialog, HoldingAButtonComparesAndDragsThePreview) {
  Document big = host::MakeDocument(1500, 1200, 3, 8);
  FillNoise(big, 5);
  DialogRun run(big);
  gProxyViewState.zoomLevel = 1;
  run.Run([&](HWND d) {
    const RECT image = run.Image(d);
    const int x = (image.left + image.right) / 2, y = (image.top + image.bottom) / 2;
    run.Press(d, WM_LBUTTONDOWN, x, y);
    EXPECT_TRUE(gPreviewState.compareHeld);
    run.api->Pump();
    EXPECT_EQ(gPainted.firstRow, FirstRow(gPreviewState.proxySource));  // the original while held
    run.api->MouseMove(d, x - 30, y - 20, MK_LBUTTON);
    EXPECT_EQ(gProxyViewState.offsetH, 30);  // the image follows the mouse
    EXPECT_EQ(gProxyViewState.offsetV, 20);
    run.Press(d, WM_LBUTTONUP, x - 30, y - 20);
    EXPECT_FALSE(gPreviewState.compareHeld);

    // The right button pans in eyedropper mode, which stays armed.
    run.api->Click(run.Item(d, kIdEyedropper));
    run.Press(d, WM_RBUTTONDOWN, x, y);
    run.api->MouseMove(d, x + 10, y, MK_RBUTTON);
    run.Press(d, WM_RBUTTONUP, x + 10, y);
    EXPECT_EQ(gProxyViewState.offsetH, 20);
    EXPECT_EQ(gInteraction.toolMode, EyedropperArmed);

    // Leaving the dialog ends a drag and shows the filtered image again.
    run.api->Click(run.Item(d, kIdEyedropper));  // still armed; back to idle by a miss
    run.Press(d, WM_LBUTTONDOWN, 1, 1);
    run.Press(d, WM_LBUTTONUP, 1, 1);
    run.Press(d, WM_LBUTTONDOWN, x, y);
    run.api->MouseMove(d, x + 1, y, MK_LBUTTON);
    run.api->MouseLeave(d);
    EXPECT_FALSE(gPreviewState.compareHeld);
    PressOk(run, d);
  });
}

TEST(Dialog, InFitModeADragComparesButDoesNotPan) {
  DialogRun run;
  gProxyViewState.zoomLevel = 0;
  run.Run([&](HWND d) {
    const RECT image = run.Image(d);
    const int x = image.left + 20, y = image.top + 20;
    run.Press(d, WM_LBUTTONDOWN, x, y);
    run.api->MouseMove(d, x + 25, y + 5, MK_LBUTTON);
    EXPECT_EQ(gProxyViewState.offsetH, 0);
    run.api->Pump();
    EXPECT_EQ(gPainted.firstRow, FirstRow(gPreviewState.proxySource));
    run.Press(d, WM_LBUTTONUP, x + 25, y + 5);
    PressOk(run, d);
  });
}

TEST(Dialog, CannotBeSizedBelowItsInitialSizeAndTheFrameFollows) {
  DialogRun run;
  gProxyViewState.dialogWidth = 100;
  gProxyViewState.dialogHeight = 100;
  run.Run([&](HWND d) {
    const int minW = gDialogState.minimumDialogWidth, minH = gDialogState.minimumDialogHeight;
    run.api->Resize(d, WMSZ_BOTTOMRIGHT, minW - 50, minH - 40);
    RECT r{};
    run.api->GetWindowRect(d, &r);
    EXPECT_EQ(r.right - r.left, minW);
    EXPECT_EQ(r.bottom - r.top, minH);
    const int frameW = gPreviewState.frameWidth;
    run.api->Resize(d, WMSZ_BOTTOMRIGHT, minW + 200, minH + 100);
    EXPECT_EQ(gPreviewState.frameWidth, frameW + 200);
    EXPECT_EQ(gProxyViewState.dialogWidth, minW + 200);
    PressOk(run, d);
  });
  EXPECT_TRUE(PreviewBuffersGone(run.host));
}

TEST(Dialog, SavesAndLoadsSettingsFilesThroughItsButtons) {
  const std::string path = ExecutableDirectory() + "dialog-settings.ksl";
  std::remove(path.c_str());
  DialogRun run;
  headless::ClearFileDialogAnswers();
  run.parameters.redGain = 1.42;
  run.parameters.ignoreSelection = true;
  run.Run([&](HWND d) {
    run.api->QueueFileDialogAnswer(path.c_str());
    run.api->Click(run.Item(d, kIdSaveSettings));
    ASSERT_EQ(headless::FileDialogRequests().size(), 1u);
    const platform::FileDialogRequest& save = headless::FileDialogRequests()[0];
    EXPECT_EQ(save.flags, 0x88806u);
    EXPECT_STREQ(save.defaultExtension, "ksl");
    EXPECT_STREQ(save.filter, "Kestrelle Files (*.ksl)");
    EXPECT_STREQ(save.filter + std::strlen(save.filter) + 1, "*.ksl");
    EXPECT_EQ(save.owner, d);

    // Change everything, then load: the controls show what was saved, and
    // with Show Original set nothing is rendered.
    run.api->DragThumb(run.Item(d, 21), 50);
    run.parameters.ignoreSelection = false;
    run.api->Click(run.Item(d, kIdShowOriginal));
    const uint32 renders = gPreviewState.renders;
    run.api->QueueFileDialogAnswer(path.c_str());
    run.api->Click(run.Item(d, kIdLoadSettings));
    EXPECT_EQ(headless::FileDialogRequests().back().flags, 0x81000u);
    EXPECT_EQ(run.parameters.redGain, 1.42);
    EXPECT_TRUE(run.parameters.ignoreSelection);
    EXPECT_EQ(run.Text(d, 22), "1.42");
    EXPECT_EQ(run.Position(d, 21), 142);
    EXPECT_EQ(gPreviewState.renders, renders);

    // A name longer than the dialog's buffer: the dialog fails, and nothing
    // is saved, under that name or a shorter one.
    const std::string dir = ExecutableDirectory() + "dialog-long/";
    const std::string tooLong = dir + std::string(300 - dir.size(), 'n') + ".ksl";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    run.api->QueueFileDialogAnswer(tooLong.c_str());
    run.api->Click(run.Item(d, kIdSaveSettings));
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    std::filesystem::remove_all(dir);

    // A cancelled open dialog still rewrites the controls from the record.
    run.parameters.greenGain = 0.25;  // changed behind the controls' back
    run.api->QueueFileDialogAnswer(nullptr);
    run.api->Click(run.Item(d, kIdLoadSettings));
    EXPECT_EQ(run.Text(d, 42), "0.25");
    PressOk(run, d);
  });
  // The saved file's name went to its own registry entry, not the last-used one.
  const auto& registry = run.host.scripting().registry();
  ASSERT_EQ(registry.count(kSavedFileNameKey), 1u);
  EXPECT_EQ(registry.count(kPluginUniqueString), 0u);
  const host::Descriptor& record = registry.at(kSavedFileNameKey).descriptor;
  EXPECT_EQ(record.size(), 65u);
  int32 first = 0;
  EXPECT_EQ(record.GetInteger(0x78782020, first), noErr);
  EXPECT_EQ(char(first & 0xff), path[0]);
  std::remove(path.c_str());
}

TEST(Dialog, AFailedLoadReportsItAndKeepsTheSettings) {
  const std::string path = ExecutableDirectory() + "dialog-broken.ksl";
  {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("Kestrelle ver", f);
    std::fclose(f);
  }
  DialogRun run;
  headless::ClearFileDialogAnswers();
  MessageCapture capture;
  run.parameters.redGain = 1.3;
  run.Run([&](HWND d) {
    run.api->QueueFileDialogAnswer(path.c_str());
    run.api->Click(run.Item(d, kIdLoadSettings));
    PressOk(run, d);
  });
  EXPECT_EQ(run.parameters.redGain, 1.3);
  ASSERT_EQ(capture.messages().size(), 2u);
  EXPECT_EQ(capture.messages()[0].text,
            "Not a valid Verdaline settings file.  No settings/parameters will be loaded.");
  EXPECT_EQ(capture.messages()[1].text,
            "Error encountered while reading settings.  Any settings/parameters loaded (if any) may be "
            "invalid.");
  std::remove(path.c_str());
}
#endif
