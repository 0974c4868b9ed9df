// The main window over the offscreen platform: its controls, drops on the left pane and
// elsewhere, folder drops, Save, the source choice and its store, the overwrite question, the
// error report and the day's contact sheet from a catalogue the batch tool made.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <set>

#include "app/saving.h"
#include "base/errors.h"
#include "gui/main_form.h"
#include "gui/picture_control.h"
#include "gui/picture_pane.h"
#include "gui/sheet_viewer.h"
#include "gui_test_support.h"
#include "picture_files/ext_bitmap.h"
#include "picture_files/png_image.h"
#include "settings/kov_radio_group.h"
#include "support/qt_drag_simulation.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using testing::GoesHeader;
using testing::GoesName;
using testing::GoesSpec;
using testing::Ramp;
using testing::RecordingDialogs;

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(settings_.isValid());
    ASSERT_TRUE(files_.isValid());
    testing::UseSettingsFolder(settings_.path());
    dir_ = fs::path(files_.path().toStdString());
  }

  TFormQuillet& Form() {
    if (!form_) {
      form_ = std::make_unique<TFormQuillet>(dialogs_);
      form_->show();
      QCoreApplication::processEvents();
    }
    return *form_;
  }

  Qt::DropAction Drop(QWidget* on, const std::vector<fs::path>& paths) {
    const auto data = testing::FileDrag(paths);
    return SimulateDrop(on, *data, QPoint(5, 5));
  }

  static void StoreSourceId(const QVariant& value) {
    QSettings("Kestrelwood", "test_gui").setValue("SourceID", value);
  }
  static QVariant StoredSourceId() {
    return QSettings("Kestrelwood", "test_gui").value("SourceID");
  }

  // The decoded 8-bit grey PNG the window wrote.
  static std::unique_ptr<TPngImage> ReadOutput(const fs::path& path) {
    auto png = std::make_unique<TPngImage>();
    png->ExpandToRGB = false;
    png->LoadFromFile(path);
    return png;
  }

  QTemporaryDir settings_;
  QTemporaryDir files_;
  fs::path dir_;
  std::shared_ptr<RecordingDialogs> dialogs_ = std::make_shared<RecordingDialogs>();
  std::unique_ptr<TFormQuillet> form_;
};

TEST_F(MainFormTest, WindowOpensWithItsTitleDesignedSizeAndControlsAtTheirPlaces) {
  TFormQuillet& form = Form();
  EXPECT_EQ(form.windowTitle(), "Update and rename bitmaps to WEFAX standard - V1.2.2.7");
  EXPECT_EQ(form.size(), QSize(625, 425));
  EXPECT_EQ(form.pos(), QPoint(193, 107));
  EXPECT_EQ(form.minimumSize(), QSize(625, 425));
  EXPECT_GT(form.maximumWidth(), 625);
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  // Nothing of the additions shows until they are used.
  EXPECT_TRUE(form.StatusLine()->text().isEmpty());
  EXPECT_FALSE(form.ButtonCancel()->isVisible());
  EXPECT_FALSE(form.ScrollBoxIn()->Fitted());
  EXPECT_FALSE(form.ScrollBoxOut()->Fitted());

  struct Place {
    QWidget* control;
    const char* name;
    QRect geometry;
  };
  const Place places[] = {
      {form.ButtonSave(), "ButtonSave", {536, 344, 81, 25}},
      {form.ButtonClose(), "ButtonClose", {536, 384, 81, 25}},
      {form.LabelHelp(), "LabelHelp", {8, 304, 289, 13}},
      {form.LabelOutputName(), "LabelOutputName", {328, 304, 289, 13}},
      {form.ScrollBoxIn(), "ScrollBoxIn", {8, 8, 289, 289}},
      {form.ScrollBoxOut(), "ScrollBoxOut", {328, 8, 289, 289}},
      {form.RadioGroupSourceID(), "RadioGroupSourceID", {16, 336, 201, 73}},
  };
  for (const Place& place : places) {
    EXPECT_EQ(place.control->objectName(), place.name);
    EXPECT_EQ(place.control->geometry(), place.geometry) << place.name;
  }
  EXPECT_EQ(form.ScrollBoxIn()->widget(), form.ImageIn());
  EXPECT_EQ(form.ScrollBoxOut()->widget(), form.ImageOut());
  EXPECT_EQ(form.ImageIn()->objectName(), "ImageIn");
  EXPECT_EQ(form.ImageOut()->objectName(), "ImageOut");

  EXPECT_EQ(form.ButtonSave()->text(), "Save");
  EXPECT_FALSE(form.ButtonSave()->isEnabled());
  EXPECT_EQ(form.ButtonClose()->text(), "Close");
  EXPECT_EQ(form.LabelHelp()->text(), "Drag one or more image files from Explorer");
  EXPECT_EQ(form.LabelOutputName()->text(), "Output file name will be here");
  EXPECT_EQ(form.LabelOutputName()->toolTip(), "This is the suggested new filename");
  EXPECT_TRUE(form.LabelHelp()->alignment().testFlag(Qt::AlignHCenter));
  TkovRadioGroup* source = form.RadioGroupSourceID();
  EXPECT_EQ(source->title(), " Source ");
  EXPECT_EQ(source->Items(), QStringList({"Full bitmap", "Data lines only"}));
  EXPECT_EQ(source->ItemIndex(), 0);
  EXPECT_EQ(source->toolTip(),
            "Choose between full input image, and one with just the data lines at the top");
  EXPECT_EQ(form.font().pointSize(), 8);
  EXPECT_TRUE(form.ImageIn()->Picture().isNull());
  EXPECT_TRUE(form.ImageOut()->Picture().isNull());
}

TEST_F(MainFormTest, TabGoesSaveCloseLeftPaneRightPaneSourceChoice) {
  TFormQuillet& form = Form();
  form.ButtonSave()->setEnabled(true);  // a disabled button is passed over
  std::vector<QObject*> order;
  QWidget* widget = form.ButtonSave();
  for (int i = 0; i < 30 && order.size() < 5; ++i, widget = widget->nextInFocusChain()) {
    if (widget->focusPolicy() & Qt::TabFocus) order.push_back(widget);
  }
  ASSERT_EQ(order.size(), 5u);
  EXPECT_EQ(order[0], form.ButtonSave());
  EXPECT_EQ(order[1], form.ButtonClose());
  EXPECT_EQ(order[2], form.ScrollBoxIn());
  EXPECT_EQ(order[3], form.ScrollBoxOut());
  EXPECT_EQ(order[4]->parent(), form.RadioGroupSourceID());
}

TEST_F(MainFormTest, DroppedFilesAreProcessedAndSavedUnderTheirNewNames) {
  const fs::path frame = dir_ / "pass.bmp";
  const fs::path plain = dir_ / "plain.bmp";
  testing::WriteFrameBmp(frame, GoesSpec(GoesHeader("1200")));
  testing::WriteBmp(plain, Ramp(120, 60));
  TFormQuillet& form = Form();

  EXPECT_EQ(Drop(form.ImageIn(), {frame, plain}), Qt::CopyAction);

  const fs::path decoded = dir_ / GoesName("1200");
  ASSERT_TRUE(fs::exists(decoded)) << "the frame's header names its output";
  const auto png = ReadOutput(decoded);
  EXPECT_EQ(png->ColorType, 0);
  EXPECT_EQ(png->BitDepth, 8);
  EXPECT_EQ(png->Title, GoesName("1200"));
  EXPECT_EQ(png->Width, 800u) << "the cut picture of an 840-wide frame";
  // A picture without a readable header is saved beside itself as PNG.
  EXPECT_TRUE(fs::exists(dir_ / "plain.png"));
  EXPECT_EQ(ReadOutput(dir_ / "plain.png")->Width, 120u);

  EXPECT_EQ(form.LabelHelp()->text(), "plain.bmp");
  EXPECT_EQ(form.LabelOutputName()->text(), "plain.png");
  EXPECT_EQ(form.StatusLine()->text(), "2 files: 2 saved");
  EXPECT_FALSE(form.ButtonDetails()->isVisible()) << "nothing failed";
  EXPECT_FALSE(form.ButtonCancel()->isVisible()) << "Cancel goes with the run";
  EXPECT_EQ(form.LabelOutputName()->toolTip().toStdString(), (dir_ / "plain.png").string());
  EXPECT_TRUE(form.ButtonSave()->isEnabled());
  EXPECT_EQ(form.ImageIn()->Picture().size(), QSize(120, 60));
  EXPECT_EQ(form.ImageIn()->size(), QSize(120, 60));
  EXPECT_EQ(form.ImageOut()->Picture().width(), 120);
  EXPECT_TRUE(dialogs_->questions.empty());
  EXPECT_TRUE(dialogs_->errors.empty());
}

TEST_F(MainFormTest, FolderDropTakesItsBmpFilesThenItsPngFilesAndNothingBelowIt) {
  // Each picture's output already exists, so the overwrite questions (answered No) show the
  // order in which the files were taken. The existing outputs are pictures of the folder too;
  // their own names come back for them, so they ask nothing.
  const fs::path folder = dir_ / "frames";
  fs::create_directories(folder / "sub");
  testing::WriteFrameBmp(folder / "b.bmp", GoesSpec(GoesHeader("1201")));
  testing::WriteFrameBmp(folder / "A.BMP", GoesSpec(GoesHeader("1202")));
  testing::WriteFramePng(folder / "p.png", GoesSpec(GoesHeader("1203")));
  testing::WriteFramePng(folder / "O.PNG", GoesSpec(GoesHeader("1204")));
  testing::WriteFrameBmp(folder / "sub" / "c.bmp", GoesSpec(GoesHeader("1205")));
  std::ofstream(folder / "notes.txt") << "not a picture";
  for (const char* hhmm : {"1201", "1202", "1203", "1204"}) {
    testing::WritePng(folder / GoesName(hhmm), Ramp(16, 16));
  }
  const auto before = testing::FileBytes(folder / GoesName("1201"));
  const fs::path stray = dir_ / "after.bmp";
  testing::WriteBmp(stray, Ramp(30, 20));

  EXPECT_EQ(Drop(Form().ImageIn(), {folder, stray}), Qt::CopyAction);

  std::vector<std::string> asked;
  for (const auto& [caption, text] : dialogs_->questions) {
    EXPECT_EQ(caption, "Overwrite image file?");
    asked.push_back(text);
  }
  auto question = [&](const char* hhmm) {
    return "The file \"" + (folder / GoesName(hhmm)).string() +
           "\" already exists. Do you want to overwrite this file?";
  };
  EXPECT_EQ(asked, std::vector<std::string>(
                       {question("1202"), question("1201"), question("1204"), question("1203")}));
  EXPECT_EQ(testing::FileBytes(folder / GoesName("1201")), before) << "answered No";
  EXPECT_FALSE(fs::exists(folder / "sub" / GoesName("1205")));
  EXPECT_TRUE(dialogs_->messages.empty()) << "the text file is not one of the folder's pictures";
  EXPECT_TRUE(fs::exists(dir_ / "after.png")) << "the file after the folder comes last";
  EXPECT_EQ(Form().LabelHelp()->text(), "after.bmp");
}

TEST_F(MainFormTest, DropsAnywhereButTheLeftPaneAreRefused) {
  const fs::path plain = dir_ / "plain.bmp";
  testing::WriteBmp(plain, Ramp(40, 30));
  TFormQuillet& form = Form();
  for (QWidget* elsewhere : std::initializer_list<QWidget*>{
           form.ImageOut(), form.ScrollBoxOut()->viewport(), form.ButtonSave(), form.ButtonClose(),
           form.LabelHelp(), form.LabelOutputName(), form.RadioGroupSourceID(), &form}) {
    EXPECT_EQ(Drop(elsewhere, {plain}), Qt::IgnoreAction) << elsewhere->objectName().toStdString();
  }
  EXPECT_FALSE(fs::exists(dir_ / "plain.png"));
  EXPECT_EQ(form.LabelHelp()->text(), "Drag one or more image files from Explorer");
  // The left pane takes drops on its picture, its empty area and its frame alike.
  EXPECT_EQ(Drop(form.ScrollBoxIn()->viewport(), {plain}), Qt::CopyAction);
  EXPECT_TRUE(fs::exists(dir_ / "plain.png"));
}

TEST_F(MainFormTest, SaveIsOfferedOnlyWhenTheNameChangesAndAsksBeforeReplacing) {
  const fs::path png = dir_ / "same.png";
  const fs::path bmp = dir_ / "other.bmp";
  testing::WritePng(png, Ramp(50, 40));
  testing::WriteBmp(bmp, Ramp(60, 40));
  TFormQuillet& form = Form();

  Drop(form.ImageIn(), {png});
  EXPECT_FALSE(form.ButtonSave()->isEnabled()) << "a PNG without header keeps its own name";
  EXPECT_EQ(form.LabelOutputName()->text(), "same.png");
  EXPECT_EQ(form.StatusLine()->text(), "same.png: header not read: kept its own name");

  Drop(form.ImageIn(), {bmp});
  ASSERT_TRUE(form.ButtonSave()->isEnabled());
  const fs::path saved = dir_ / "other.png";
  ASSERT_TRUE(fs::exists(saved));
  EXPECT_TRUE(dialogs_->questions.empty());

  // Pressing Save again asks, and No leaves the file as it is.
  testing::WritePng(saved, Ramp(8, 8));
  QTest::mouseClick(form.ButtonSave(), Qt::LeftButton);
  ASSERT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_EQ(dialogs_->questions[0].first, "Overwrite image file?");
  EXPECT_EQ(
      dialogs_->questions[0].second,
      "The file \"" + saved.string() + "\" already exists. Do you want to overwrite this file?");
  EXPECT_EQ(ReadOutput(saved)->Width, 8u);
  EXPECT_EQ(form.StatusLine()->text(), "other.bmp: not saved: the file exists");
  dialogs_->answers.push_back(Answer::kYes);
  QTest::mouseClick(form.ButtonSave(), Qt::LeftButton);
  EXPECT_EQ(dialogs_->questions.size(), 2u);
  EXPECT_EQ(ReadOutput(saved)->Width, 60u);
  EXPECT_EQ(form.StatusLine()->text(), "other.bmp: saved as other.png");
  EXPECT_TRUE(form.ButtonSave()->isEnabled());
}

// The header that was read shows in the status line's hint; a doubtful one, which names
// nothing, in the status line itself, so that it can be checked by eye.
TEST_F(MainFormTest, TheStatusShowsTheHeaderReadAndItsDoubt) {
  const fs::path frame = dir_ / "pass.bmp";
  const fs::path doubtful = dir_ / "d.bmp";
  testing::WriteFrameBmp(frame, GoesSpec(GoesHeader("1200")));
  testing::WriteFrameBmp(doubtful, framegen::DoubtfulFrameRecipe());
  TFormQuillet& form = Form();

  Drop(form.ImageIn(), {frame});
  const std::string status = "pass.bmp: saved as " + GoesName("1200");
  EXPECT_EQ(form.StatusLine()->text().toStdString(), status);
  EXPECT_EQ(form.StatusLine()->toolTip().toStdString(),
            status + "\nheader \"" + GoesHeader("1200").substr(0, 23) + "\"");

  Drop(form.ImageIn(), {doubtful});
  EXPECT_EQ(
      form.StatusLine()->text().toStdString(),
      "d.bmp: header doubtful (\"GOES-I  FD 0101311445\"): kept its own name; saved as d.png");
  EXPECT_EQ(form.LabelOutputName()->text(), "d.png");

  // Saved as its header would name it, or as the user names it, only when asked.
  ASSERT_TRUE(form.SaveDoubtfulAction()->isVisible());
  form.SaveDoubtfulAction()->trigger();
  const std::string doubtful_name = "GOES-I 31-01-01 1445 G8FD.png";
  EXPECT_EQ(form.StatusLine()->text().toStdString(), "d.bmp: saved as " + doubtful_name);
  EXPECT_EQ(ReadOutput(dir_ / doubtful_name)->Title, doubtful_name);
  dialogs_->save_name = (dir_ / "typed").string();
  QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(dialogs_->save_suggestions, std::vector<std::string>{(dir_ / "d.png").string()});
  EXPECT_EQ(ReadOutput(dir_ / "typed.png")->Title, "typed.png");
  Drop(form.ImageIn(), {frame});
  EXPECT_FALSE(form.SaveDoubtfulAction()->isVisible());

  // In a run, the summary counts it and Details lists it.
  fs::remove(dir_ / "d.png");
  Drop(form.ImageIn(), {frame, doubtful});
  const std::string summary = "2 files: 1 saved, 1 up to date, 1 header doubtful";
  EXPECT_EQ(form.StatusLine()->text().toStdString(), summary);
  ASSERT_TRUE(form.ButtonDetails()->isVisible());
  QTest::mouseClick(form.ButtonDetails(), Qt::LeftButton);
  EXPECT_EQ(dialogs_->messages.at(0), summary + "\n\n\"" + doubtful.string() +
                                          "\": header doubtful (\"GOES-I  FD 0101311445\"), "
                                          "kept its own name\n");
}

TEST_F(MainFormTest, TheOverwriteQuestionComesWithTheNewPicturesAndNamesOnShow) {
  const fs::path frame = dir_ / "pass.bmp";
  testing::WriteFrameBmp(frame, GoesSpec(GoesHeader("1210")));
  testing::WritePng(dir_ / GoesName("1210"), Ramp(8, 8));
  TFormQuillet& form = Form();
  QImage in, out;
  QString help, output, hint;
  dialogs_->on_question = [&] {
    in = form.ImageIn()->Picture();
    out = form.ImageOut()->Picture();
    help = form.LabelHelp()->text();
    output = form.LabelOutputName()->text();
    hint = form.LabelOutputName()->toolTip();
  };

  Drop(form.ImageIn(), {frame});

  ASSERT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_EQ(in.size(), QSize(840, 400));
  EXPECT_EQ(in, form.ImageIn()->Picture());
  EXPECT_EQ(out.width(), 800) << "the cut picture, not the empty start-up pane";
  EXPECT_EQ(out, form.ImageOut()->Picture());
  EXPECT_EQ(help, "pass.bmp");
  EXPECT_EQ(output.toStdString(), GoesName("1210"));
  EXPECT_EQ(hint.toStdString(), (dir_ / GoesName("1210")).string());
}

TEST_F(MainFormTest, SourceChoiceReprocessesTheCurrentFileWithoutSavingAndIsIdleBeforeAnyFile) {
  TFormQuillet& form = Form();
  form.RadioGroupSourceID()->Button(1)->click();
  EXPECT_EQ(form.RadioGroupSourceID()->ItemIndex(), 1);
  EXPECT_TRUE(form.CurrentFile().empty());
  EXPECT_EQ(form.LabelHelp()->text(), "Drag one or more image files from Explorer");
  EXPECT_TRUE(dialogs_->messages.empty());
  EXPECT_TRUE(dialogs_->errors.empty());
  form.RadioGroupSourceID()->Button(0)->click();

  // A picture of the data lines alone reads only as such.
  const framegen::FrameRecipe recipe = GoesSpec(GoesHeader("1230"));
  const fs::path lines = dir_ / "lines.bmp";
  testing::WriteBmp(
      lines, framegen::ToBitmap(framegen::DataLinesSource(framegen::MakeFrame(recipe), recipe)));
  Drop(form.ImageIn(), {lines});
  EXPECT_EQ(form.LabelOutputName()->text(), "lines.png");
  ASSERT_TRUE(fs::exists(dir_ / "lines.png"));
  fs::remove(dir_ / "lines.png");

  form.RadioGroupSourceID()->Button(1)->click();
  EXPECT_EQ(form.LabelOutputName()->text().toStdString(), GoesName("1230"));
  EXPECT_EQ(form.LabelOutputName()->toolTip().toStdString(), (dir_ / GoesName("1230")).string());
  EXPECT_TRUE(form.ButtonSave()->isEnabled());
  EXPECT_FALSE(fs::exists(dir_ / GoesName("1230"))) << "switching does not save";
  EXPECT_EQ(form.StatusLine()->text().toStdString(),
            "lines.bmp: proposed " + GoesName("1230") + ": Save saves it");
  EXPECT_FALSE(fs::exists(dir_ / "lines.png"));
  EXPECT_EQ(form.ImageOut()->Picture().width(), 800);
}

TEST_F(MainFormTest, StoredSourceChoiceIsRestoredAtStartAndWrittenAtExit) {
  EXPECT_FALSE(StoredSourceId().isValid());
  StoreSourceId(1);
  // The restored choice takes effect without its handler: the data-lines picture decodes at once.
  const framegen::FrameRecipe recipe = GoesSpec(GoesHeader("1245"));
  const fs::path lines = dir_ / "lines.bmp";
  testing::WriteBmp(
      lines, framegen::ToBitmap(framegen::DataLinesSource(framegen::MakeFrame(recipe), recipe)));
  TFormQuillet& form = Form();
  EXPECT_EQ(form.RadioGroupSourceID()->ItemIndex(), 1);
  EXPECT_TRUE(form.CurrentFile().empty());
  Drop(form.ImageIn(), {lines});
  EXPECT_TRUE(fs::exists(dir_ / GoesName("1245")));

  form.RadioGroupSourceID()->Button(0)->click();
  EXPECT_EQ(StoredSourceId().toInt(), 1) << "written once, at exit";
  form_.reset();
  EXPECT_EQ(StoredSourceId().toInt(), 0);
}

TEST_F(MainFormTest, FilesThatFailInARunAreReportedAndCountedAndTheRunGoesOn) {
  std::vector<fs::path> files;
  for (int i = 1; i <= 5; ++i) {
    files.push_back(dir_ / ("f" + std::to_string(i) + ".bmp"));
    testing::WriteBmp(files.back(), Ramp(40 + i, 30));
  }
  std::ofstream(files[0], std::ios::binary | std::ios::trunc);  // empty
  std::ofstream(files[4], std::ios::binary | std::ios::trunc) << "BM not really a bitmap";
  const fs::path text = dir_ / "readme.txt";
  std::ofstream(text) << "hello";
  const fs::path same = dir_ / "same.png";  // no header: keeps its own name
  testing::WritePng(same, Ramp(30, 20));
  files.insert(files.begin() + 2, {text, same});
  auto reason = [](const fs::path& file) {
    try {
      TExtBitmap().LoadFromFile(file);
    } catch (const Error& e) {
      return "Cannot read \"" + file.string() + "\": " + e.what();
    }
    return std::string();
  };
  TFormQuillet& form = Form();

  Drop(form.ImageIn(), files);

  for (int i : {2, 3, 4}) EXPECT_TRUE(fs::exists(dir_ / ("f" + std::to_string(i) + ".png"))) << i;
  EXPECT_TRUE(dialogs_->errors.empty());
  EXPECT_TRUE(dialogs_->messages.empty());
  const std::string summary = "7 files: 3 saved, 1 kept its name, 1 skipped, 2 failed";
  EXPECT_EQ(form.StatusLine()->text().toStdString(), summary);
  // The last file failed: its panes are empty and Save has nothing to save.
  EXPECT_EQ(form.LabelHelp()->text(), "f5.bmp");
  EXPECT_TRUE(form.ImageIn()->Picture().isNull());
  EXPECT_TRUE(form.ImageOut()->Picture().isNull());
  EXPECT_FALSE(form.ButtonSave()->isEnabled());
  ASSERT_TRUE(form.ButtonDetails()->isVisible());
  QTest::mouseClick(form.ButtonDetails(), Qt::LeftButton);
  EXPECT_EQ(dialogs_->messages.at(0),
            summary + "\n\n" + reason(files[0]) + "\nSkipped \"" + text.string() +
                "\": only .bmp and .png files are read\n\"" + same.string() +
                "\": header not read, kept its own name\n" + reason(files[6]) + "\n");

  // Alone, a file that cannot be read gets the error report, and one of another kind its
  // message.
  Drop(form.ImageIn(), {files[6]});
  ASSERT_EQ(dialogs_->errors.size(), 1u);
  EXPECT_EQ(dialogs_->errors[0], reason(files[6]));
  EXPECT_EQ(form.StatusLine()->text(), "f5.bmp: stopped by an error");
  EXPECT_FALSE(form.ButtonDetails()->isVisible());
  Drop(form.ImageIn(), {text});
  ASSERT_EQ(dialogs_->messages.size(), 2u);
  EXPECT_NE(dialogs_->messages[1].find(text.string()), std::string::npos);
}

TEST_F(MainFormTest, ARerunOverAFolderOfFramesAndTheirResultsAsksNothingAndAddsNoFile) {
  const fs::path folder = dir_ / "frames";
  fs::create_directories(folder);
  testing::WriteFrameBmp(folder / "a.bmp", GoesSpec(GoesHeader("1401")));
  testing::WriteFrameBmp(folder / "b.bmp", GoesSpec(GoesHeader("1402")));
  testing::WriteFramePng(folder / "c.png", GoesSpec(GoesHeader("1403")));
  TFormQuillet& form = Form();
  Drop(form.ImageIn(), {folder});
  EXPECT_EQ(form.StatusLine()->text(), "3 files: 3 saved");
  auto listing = [&folder] {
    std::map<fs::path, fs::file_time_type> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
      files[entry.path()] = entry.last_write_time();
    }
    return files;
  };
  const auto before = listing();
  ASSERT_EQ(before.size(), 6u);

  // Again, from the folder dialog.
  dialogs_->folder = folder.string();
  QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);

  EXPECT_TRUE(dialogs_->questions.empty());
  EXPECT_EQ(listing(), before);
  EXPECT_EQ(form.StatusLine()->text(), "6 files: 3 up to date, 3 already results");
  // A frame changed since its result was saved is taken again; a single result still is.
  // The progress counts only the frames, and Details names the one not saved.
  fs::last_write_time(folder / "b.bmp", fs::file_time_type::clock::now() + std::chrono::hours(1));
  QString asked_during;
  dialogs_->on_question = [&] { asked_during = form.StatusLine()->text(); };
  Drop(form.ImageIn(), {folder});
  EXPECT_EQ(dialogs_->questions.size(), 1u);
  EXPECT_EQ(asked_during.toStdString(), "File 2 of 3: b.bmp");
  QTest::mouseClick(form.ButtonDetails(), Qt::LeftButton);
  EXPECT_TRUE(dialogs_->messages.back().ends_with("\n\n\"" + (folder / "b.bmp").string() +
                                                  "\": not saved: \"" + GoesName("1402") +
                                                  "\" exists\n"))
      << dialogs_->messages.back();
  Drop(form.ImageIn(), {folder / GoesName("1401")});
  EXPECT_EQ(form.LabelHelp()->text().toStdString(), GoesName("1401"));
}

TEST_F(MainFormTest, AnswersForAllAndStopEndTheQuestionsOfARun) {
  // Four frames whose targets stand: the second an original of that name, the others results
  // of the tool older than their frames.
  std::vector<fs::path> frames, targets;
  for (const char* hhmm : {"1501", "1502", "1503", "1504"}) {
    frames.push_back(dir_ / (std::string(hhmm) + ".bmp"));
    targets.push_back(dir_ / GoesName(hhmm));
  }
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  auto setUp = [&] {
    for (std::size_t i = 0; i < frames.size(); ++i) {
      testing::WriteFrameBmp(frames[i], GoesSpec(GoesHeader(frames[i].stem().string())));
      if (i == 1) {
        testing::WritePng(targets[i], Ramp(8, 8));
      } else {
        testing::WriteFileBytes(targets[i], EncodeOutput(Ramp(8, 8), targets[i]));
      }
      fs::last_write_time(targets[i], old);
    }
  };
  struct Row {
    std::vector<RunAnswer> answers;
    int questions;      // all of them
    int run_questions;  // of them, those offering answers for all
    std::string status;
  };
  const Row rows[] = {
      {{RunAnswer::kNo, RunAnswer::kNo, RunAnswer::kNo}, 4, 3, "4 files: 4 not saved (exists)"},
      {{RunAnswer::kNoToAll}, 1, 1, "4 files: 4 not saved (exists)"},
      // Yes to all replaces the tool's results unasked; the original is still asked about.
      {{RunAnswer::kYesToAll}, 2, 2, "4 files: 3 saved, 1 not saved (exists)"},
      {{RunAnswer::kStop},
       1,
       1,
       "Cancelled after 1 of 4 files; 3 were left untouched. Of the 1: 1 not saved (exists)"},
  };
  TFormQuillet& form = Form();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    setUp();
    *dialogs_ = RecordingDialogs();
    dialogs_->run_answers.assign(row.answers.begin(), row.answers.end());
    Drop(form.ImageIn(), frames);
    EXPECT_EQ(static_cast<int>(dialogs_->questions.size()), row.questions);
    EXPECT_EQ(dialogs_->run_questions, row.run_questions);
    EXPECT_EQ(form.StatusLine()->text().toStdString(), row.status);
    EXPECT_EQ(ReadOutput(targets[1])->Width, 8u) << "the original is kept";
  }
}

TEST_F(MainFormTest, ReadAheadKeepsTheOrderOfQuestionsAndSavesAndCancelLeavesNoTemporaryFile) {
  // A large frame first, so the small ones after it are ready before it.
  std::vector<fs::path> frames;
  framegen::FrameRecipe large = framegen::SizedFrameRecipe(framegen::Layout::GOES, 2400, 2400);
  large.header = GoesHeader("1600");
  frames.push_back(dir_ / "00.bmp");
  testing::WriteFrameBmp(frames[0], large);
  for (int i = 1; i < 12; ++i) {
    const std::string mm = (i < 10 ? "0" : "") + std::to_string(i);
    frames.push_back(dir_ / (mm + ".bmp"));
    testing::WriteFrameBmp(frames.back(), GoesSpec(GoesHeader("16" + mm)));
  }
  auto target = [&](std::size_t i) { return dir_ / GoesName("16" + frames[i].stem().string()); };
  const std::set<std::size_t> asked = {0, 4, 9};
  for (std::size_t i : asked) testing::WritePng(target(i), Ramp(8, 8));
  TFormQuillet& form = Form();
  std::vector<std::string> shown;
  dialogs_->on_question = [&] {
    shown.push_back(form.LabelHelp()->text().toStdString());
    const std::size_t at = shown.size() == 1 ? 0 : shown.size() == 2 ? 4 : 9;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (asked.count(i) == 0) {
        EXPECT_EQ(fs::exists(target(i)), i < at) << i << " at " << at;
      }
    }
  };
  dialogs_->run_answers = {RunAnswer::kYes, RunAnswer::kNo, RunAnswer::kYes};

  Drop(form.ImageIn(), frames);

  EXPECT_EQ(shown, std::vector<std::string>({"00.bmp", "04.bmp", "09.bmp"}));
  EXPECT_EQ(form.StatusLine()->text(), "12 files: 11 saved, 1 not saved (exists)");

  // Cancel while the files after the one asked about are written ahead.
  for (std::size_t i = 0; i < frames.size(); ++i) fs::remove(target(i));
  testing::WritePng(target(0), Ramp(8, 8));
  auto temporaries = [this] {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      n += entry.path().filename().string().starts_with(".tessaly-");
    }
    return n;
  };
  // Files written ahead have no name where the file system makes unnamed ones: they are seen
  // as this process's open files in the folder.
  auto unnamed = [this] {
    int n = 0;
    for (const auto& fd : fs::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      const std::string to = fs::read_symlink(fd.path(), error).string();
      n += !error && to.starts_with(dir_.string() + "/") && to.ends_with("(deleted)");
    }
    return n;
  };
  bool wroteAhead = false;
  dialogs_->on_question = [&] {
    wroteAhead = QTest::qWaitFor([&] { return temporaries() + unnamed() > 0; }, 10000);
    QTest::mouseClick(form.ButtonCancel(), Qt::LeftButton);
  };
  Drop(form.ImageIn(), frames);
  EXPECT_TRUE(wroteAhead);
  EXPECT_EQ(temporaries() + unnamed(), 0);
  for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_FALSE(fs::exists(target(i))) << i;
  EXPECT_EQ(
      form.StatusLine()->text().toStdString(),
      "Cancelled after 1 of 12 files; 11 were left untouched. Of the 1: 1 not saved (exists)");
}

TEST_F(MainFormTest, ResizingGrowsBothPanesAlikeAndKeepsEveryControlInside) {
  TFormQuillet& form = Form();
  const std::vector<QWidget*> controls = {
      form.ScrollBoxIn(),        form.ScrollBoxOut(), form.LabelHelp(),    form.LabelOutputName(),
      form.RadioGroupSourceID(), form.StatusLine(),   form.ButtonCancel(), form.ButtonDetails(),
      form.ButtonSave(),         form.ButtonClose()};
  const QSize sizes[] = {{625, 425}, {626, 426}, {1001, 700}, {1920, 1200}, {500, 300}};
  for (const QSize& asked : sizes) {
    form.resize(asked);
    const QSize size = form.size();
    SCOPED_TRACE(std::to_string(asked.width()) + " x " + std::to_string(asked.height()));
    EXPECT_EQ(size, asked.expandedTo(QSize(625, 425))) << "never below the designed size";
    const int extraWidth = size.width() - 625;
    const int extraHeight = size.height() - 425;
    const QRect in = form.ScrollBoxIn()->geometry();
    const QRect out = form.ScrollBoxOut()->geometry();
    EXPECT_EQ(in.width() + out.width(), 2 * 289 + extraWidth);
    EXPECT_LE(std::abs(in.width() - out.width()), 1);
    EXPECT_EQ(in.height(), 289 + extraHeight);
    EXPECT_EQ(out.height(), 289 + extraHeight);
    EXPECT_EQ(out.right(), size.width() - 9) << "the right pane keeps its margin";
    // The labels stay under their panes; the controls below keep their distance to the bottom.
    EXPECT_EQ(form.LabelHelp()->geometry().left(), in.left());
    EXPECT_EQ(form.LabelHelp()->width(), in.width());
    EXPECT_EQ(form.LabelOutputName()->geometry().left(), out.left());
    EXPECT_EQ(form.LabelOutputName()->y(), in.bottom() + 8);
    EXPECT_EQ(form.RadioGroupSourceID()->geometry(), QRect(16, 336 + extraHeight, 201, 73));
    EXPECT_EQ(form.ButtonClose()->geometry(), QRect(536 + extraWidth, 384 + extraHeight, 81, 25));
    EXPECT_EQ(form.ButtonSave()->geometry(), QRect(536 + extraWidth, 344 + extraHeight, 81, 25));
    for (std::size_t i = 0; i < controls.size(); ++i) {
      const QRect place = controls[i]->geometry();
      EXPECT_TRUE(form.rect().contains(place)) << controls[i]->objectName().toStdString();
      for (std::size_t j = i + 1; j < controls.size(); ++j) {
        EXPECT_FALSE(place.intersects(controls[j]->geometry()))
            << controls[i]->objectName().toStdString() << " and "
            << controls[j]->objectName().toStdString();
      }
    }
  }
}

TEST_F(MainFormTest, EachPaneSwitchesBetweenActualSizeAndFittedAndRemembersItsChoice) {
  const fs::path big = dir_ / "big.bmp";
  testing::WriteBmp(big, Ramp(600, 400));
  TFormQuillet& form = Form();
  Drop(form.ImageIn(), {big});
  PicturePane* pane = form.ScrollBoxIn();
  ASSERT_EQ(form.ImageIn()->size(), QSize(600, 400)) << "actual size at first";

  QTest::mouseDClick(pane->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_TRUE(pane->Fitted());
  QCoreApplication::processEvents();
  EXPECT_EQ(form.ImageIn()->size(), pane->viewport()->size());
  EXPECT_FALSE(pane->horizontalScrollBar()->isVisible());
  const QRect shown = form.ImageIn()->PictureRect();
  EXPECT_TRUE(form.ImageIn()->rect().contains(shown));
  EXPECT_EQ(shown.width(), form.ImageIn()->width()) << "a wide picture fills the width";
  EXPECT_NEAR(shown.height(), shown.width() * 400 / 600, 1) << "aspect kept";
  EXPECT_TRUE(pane->FitAction()->isChecked());
  EXPECT_FALSE(form.ScrollBoxOut()->Fitted()) << "each pane has its own view";

  // Grown, the fitted picture grows with the pane.
  form.resize(1000, 700);
  QCoreApplication::processEvents();
  EXPECT_EQ(form.ImageIn()->PictureRect().width(), pane->viewport()->width());

  // A double-click on the picture itself switches back.
  QTest::mouseDClick(form.ImageIn(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_FALSE(pane->Fitted());
  EXPECT_EQ(form.ImageIn()->size(), QSize(600, 400));

  // The context menu offers both views, the current one checked.
  QStringList offered;
  bool actualChecked = false;
  QTimer::singleShot(0, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      for (QAction* action : menu->actions()) {
        offered << action->text();
        if (action->text() == "&Actual size") actualChecked = action->isChecked();
      }
      menu->close();
    }
  });
  QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, QPoint(5, 5),
                              pane->mapToGlobal(QPoint(5, 5)));
  QCoreApplication::sendEvent(pane, &menuEvent);
  EXPECT_EQ(offered, QStringList({"&Fit to pane", "&Actual size"}));
  EXPECT_TRUE(actualChecked);
  form.ScrollBoxOut()->FitAction()->trigger();
  EXPECT_TRUE(form.ScrollBoxOut()->Fitted());

  QSettings store("Kestrelwood", "test_gui");
  EXPECT_FALSE(store.contains("FitImageOut")) << "written at exit, as the source choice";
  form_.reset();
  store.sync();
  EXPECT_EQ(store.value("FitImageIn").toInt(), 0);
  EXPECT_EQ(store.value("FitImageOut").toInt(), 1);
  EXPECT_FALSE(store.contains("CatalogFile")) << "no catalogue chosen, none stored";
  EXPECT_FALSE(Form().ScrollBoxIn()->Fitted());
  EXPECT_TRUE(Form().ScrollBoxOut()->Fitted());
}

TEST_F(MainFormTest, ARunOfManyFilesShowsProgressAndStopsAtCancelBeforeTheNextFile) {
  std::vector<fs::path> files;
  for (int i = 1; i <= 20; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%02d.bmp", i);
    files.push_back(dir_ / name);
    testing::WriteBmp(files.back(), Ramp(30 + i, 20));
  }
  // File 5's output is there already, so its question comes while file 5 is handled; the user
  // presses Escape meanwhile, which the window sees once file 5 is done.
  testing::WritePng(dir_ / "f05.png", Ramp(8, 8));
  TFormQuillet& form = Form();
  std::string progress;
  bool cancelShown = false;
  bool sourceHeld = false;
  dialogs_->on_question = [&] {
    progress = form.StatusLine()->text().toStdString();
    cancelShown = form.ButtonCancel()->isVisible();
    sourceHeld = !form.RadioGroupSourceID()->isEnabled();
    QCoreApplication::postEvent(&form, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
  };

  Drop(form.ImageIn(), files);

  EXPECT_EQ(progress, "File 5 of 20: f05.bmp");
  EXPECT_TRUE(cancelShown);
  EXPECT_TRUE(sourceHeld);
  for (int i = 1; i <= 4; ++i) EXPECT_TRUE(fs::exists(WithPngExtension(files[i - 1]))) << i;
  EXPECT_EQ(ReadOutput(dir_ / "f05.png")->Width, 8u) << "answered No";
  for (int i = 6; i <= 20; ++i) EXPECT_FALSE(fs::exists(WithPngExtension(files[i - 1]))) << i;
  EXPECT_EQ(form.StatusLine()->text(),
            "Cancelled after 5 of 20 files; 15 were left untouched. Of the 5: 4 saved, 1 not saved "
            "(exists)");
  EXPECT_EQ(form.LabelHelp()->text(), "f05.bmp");
  EXPECT_FALSE(form.ButtonCancel()->isVisible());
  EXPECT_TRUE(form.RadioGroupSourceID()->isEnabled());
  EXPECT_TRUE(form.isVisible()) << "Escape during a run only cancels";
  EXPECT_TRUE(dialogs_->errors.empty());

  // The Cancel button does the same; the next run starts afresh.
  dialogs_->on_question = [&] { QTest::mouseClick(form.ButtonCancel(), Qt::LeftButton); };
  testing::WritePng(dir_ / "f01.png", Ramp(8, 8));
  Drop(form.ImageIn(), {files[5], files[0], files[6]});
  EXPECT_TRUE(fs::exists(dir_ / "f06.png"));
  EXPECT_FALSE(fs::exists(dir_ / "f07.png"));
  EXPECT_EQ(form.StatusLine()->text(),
            "Cancelled after 2 of 3 files; 1 was left untouched. Of the 2: 1 saved, 1 not saved "
            "(exists)");
}

TEST_F(MainFormTest, KeysOpenPicturesAndCloseTheWindow) {
  const fs::path a = dir_ / "a.bmp";
  const fs::path b = dir_ / "b.bmp";
  testing::WriteBmp(a, Ramp(40, 30));
  testing::WriteBmp(b, Ramp(50, 30));
  TFormQuillet& form = Form();
  dialogs_->choices.push_back({a.string(), b.string()});
  QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(dialogs_->openings, 1);
  EXPECT_TRUE(fs::exists(dir_ / "a.png"));
  EXPECT_TRUE(fs::exists(dir_ / "b.png"));
  EXPECT_EQ(form.LabelHelp()->text(), "b.bmp");
  QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);  // cancelled dialog: nothing happens
  EXPECT_EQ(dialogs_->openings, 2);
  EXPECT_EQ(form.LabelHelp()->text(), "b.bmp");

  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible()) << "Escape closes an idle window";
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  QTest::keyClick(form.ButtonClose(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(form.isVisible());
}

TEST_F(MainFormTest, TheWindowsPlaceIsRestoredOnlyWhereItFitsTheScreens) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  QSettings store("Kestrelwood", "test_gui");
  auto storePlace = [&store](const QRect& place) {
    store.setValue("WindowLeft", place.x());
    store.setValue("WindowTop", place.y());
    store.setValue("WindowWidth", place.width());
    store.setValue("WindowHeight", place.height());
    store.sync();
  };
  const QRect fits(screen.left() + 10, screen.top() + 20, 700, 500);
  ASSERT_TRUE(screen.contains(fits)) << "the offscreen screen is too small for this test";
  storePlace(fits);
  {
    TFormQuillet form(dialogs_);
    EXPECT_EQ(QRect(form.pos(), form.size()), fits);
    form.resize(720, 510);
    form.move(screen.left() + 15, screen.top() + 25);
  }
  store.sync();
  EXPECT_EQ(store.value("WindowWidth").toInt(), 720);
  EXPECT_EQ(store.value("WindowHeight").toInt(), 510);
  EXPECT_EQ(store.value("WindowLeft").toInt(), screen.left() + 15);
  EXPECT_EQ(store.value("WindowMaximized").toInt(), 0);

  const QRect tooLarge(screen.left(), screen.top(), screen.width() + 100, 500);
  const QRect offTheScreens(screen.right() + 50, screen.top(), 700, 500);
  for (const QRect& stored : {tooLarge, offTheScreens}) {
    storePlace(stored);
    TFormQuillet form(dialogs_);
    EXPECT_EQ(QRect(form.pos(), form.size()), QRect(193, 107, 625, 425));
  }
}

TEST_F(MainFormTest, AFocusedPaneIsMarked) {
  TFormQuillet& form = Form();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  const QColor mark = form.palette().color(QPalette::Highlight);
  auto corner = [](QWidget* pane) { return pane->grab().toImage().pixelColor(1, 1); };
  form.ScrollBoxIn()->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(form.ScrollBoxIn()->hasFocus());
  EXPECT_EQ(corner(form.ScrollBoxIn()), mark);
  EXPECT_NE(corner(form.ScrollBoxOut()), mark);
  form.ScrollBoxOut()->setFocus(Qt::TabFocusReason);
  EXPECT_NE(corner(form.ScrollBoxIn()), mark);
  EXPECT_EQ(corner(form.ScrollBoxOut()), mark);
}

TEST_F(MainFormTest, DataLinesChosenForAFullFrameSaysItLooksLikeOne) {
  const framegen::FrameRecipe recipe = GoesSpec(GoesHeader("1310"));
  const fs::path full = dir_ / "full.bmp";
  const fs::path lines = dir_ / "lines.bmp";
  testing::WriteFrameBmp(full, recipe);
  testing::WriteBmp(
      lines, framegen::ToBitmap(framegen::DataLinesSource(framegen::MakeFrame(recipe), recipe)));
  StoreSourceId(1);
  TFormQuillet& form = Form();
  Drop(form.ImageIn(), {full});
  EXPECT_NE(form.StatusLine()->text().indexOf("it looks like a full frame"), -1)
      << form.StatusLine()->text().toStdString();
  Drop(form.ImageIn(), {lines});
  EXPECT_EQ(form.StatusLine()->text().toStdString(), "lines.bmp: saved as " + GoesName("1310"));
  form.RadioGroupSourceID()->Button(0)->click();  // the frame read as it is: no such note
  Drop(form.ImageIn(), {full});
  EXPECT_EQ(form.StatusLine()->text().toStdString(), "full.bmp: not saved: the file exists");
}

// tessaly-cli run in `dir`; its exit status.
int RunCli(const fs::path& dir, const QStringList& arguments) {
  QProcess cli;
  cli.setWorkingDirectory(QString::fromStdString(dir.string()));
  cli.start(TESSALY_CLI_PATH, arguments);
  if (cli.waitForFinished(120000)) return cli.exitCode();
  cli.kill();
  cli.waitForFinished();
  return -1;
}

// The files below `dir` and their last changes, but for the catalogue's shared-memory index,
// which every reader of a catalogue in WAL mode writes its marks in.
std::map<fs::path, fs::file_time_type> FilesBelow(const fs::path& dir) {
  std::map<fs::path, fs::file_time_type> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.path().string().ends_with("-shm")) files[entry.path()] = entry.last_write_time();
  }
  return files;
}

TEST_F(MainFormTest, TheDaysContactSheetOfThePictureShownComesFromTheCatalogueGiven) {
  // GOES8 D2 every quarter hour but 00:30 of one day, catalogued by the batch tool, which draws
  // that day's sheet too; and a frame of the next day, not catalogued.
  fs::create_directories(dir_ / "in");
  for (const char* hhmm : {"0000", "0015", "0045"}) {
    testing::WriteFrameBmp(dir_ / "in" / (std::string(hhmm) + ".bmp"), GoesSpec(GoesHeader(hhmm)));
  }
  testing::WriteFrameBmp(dir_ / "next.bmp", GoesSpec("GOES8   VIS9812250000D2  "));
  testing::WriteBmp(dir_ / "ramp.bmp", Ramp(40, 30));
  ASSERT_EQ(RunCli(dir_, {"--catalog", "cat.db", "-o", "out", "in"}), 0);
  ASSERT_EQ(RunCli(dir_, {"--catalog", "cat.db", "--sheet", "sheet.png"}), 0);
  const auto files = FilesBelow(dir_);

  TFormQuillet& form = Form();
  QAction* const sheet = form.DaySheetAction();
  EXPECT_TRUE(form.ScrollBoxOut()->actions().contains(sheet));
  form.ProcessFile(dir_ / "in" / "0015.bmp", false);
  EXPECT_FALSE(sheet->isVisible()) << "without a catalogue the window is as it was";
  QTest::keyClick(&form, Qt::Key_D, Qt::ControlModifier);
  EXPECT_EQ(form.SheetWindow(), nullptr);
  form.UseCatalog((dir_ / "ramp.bmp").string());
  ASSERT_EQ(dialogs_->messages.size(), 1u);
  EXPECT_NE(dialogs_->messages[0].find("ramp.bmp"), std::string::npos) << dialogs_->messages[0];
  EXPECT_FALSE(sheet->isVisible()) << "a file that is no catalogue is not taken";

  form.UseCatalog((dir_ / "cat.db").string());
  ASSERT_TRUE(sheet->isVisible());
  ASSERT_TRUE(sheet->isEnabled());
  EXPECT_EQ(sheet->text(), "Day's contact sheet (GOES8 D2, 1998-12-24)");
  QTest::keyClick(&form, Qt::Key_D, Qt::ControlModifier);
  ASSERT_NE(form.SheetWindow(), nullptr);
  const SheetViewer& viewer = *form.SheetWindow();
  EXPECT_TRUE(viewer.isVisible());
  EXPECT_EQ(viewer.Pane()->widget(), viewer.Picture());
  // The batch tool's sheet pixel for pixel, titled with its Description.
  const QImage drawn(QString::fromStdString((dir_ / "sheet.png").string()));
  ASSERT_FALSE(drawn.isNull());
  EXPECT_EQ(viewer.Picture()->Picture().convertToFormat(QImage::Format_Grayscale8),
            drawn.convertToFormat(QImage::Format_Grayscale8));
  TPngImage png;
  png.LoadFromFile(dir_ / "sheet.png");
  EXPECT_NE(std::find(png.Texts.begin(), png.Texts.end(),
                      "Description=" + viewer.windowTitle().toStdString()),
            png.Texts.end());

  form.ProcessFile(dir_ / "next.bmp", false);
  sheet->trigger();
  EXPECT_NE(dialogs_->messages.back().find("holds no frame of GOES8 D2 on 1998-12-25"),
            std::string::npos);
  form.ProcessFile(dir_ / "ramp.bmp", false);
  EXPECT_FALSE(sheet->isEnabled()) << "no header, no day";
  EXPECT_EQ(FilesBelow(dir_), files) << "nothing written";
  EXPECT_TRUE(dialogs_->errors.empty());

  // Kept for the next window, until it is forgotten.
  form_.reset();
  EXPECT_EQ(QSettings("Kestrelwood", "test_gui").value("CatalogFile").toString().toStdString(),
            (dir_ / "cat.db").string());
  Form().ProcessFile(dir_ / "in" / "0000.bmp", false);
  EXPECT_TRUE(Form().DaySheetAction()->isEnabled());
  Form().UseCatalog("");
  EXPECT_FALSE(Form().DaySheetAction()->isVisible());
  form_.reset();
  EXPECT_FALSE(QSettings("Kestrelwood", "test_gui").contains("CatalogFile"));
}

TEST(ErrorReportTextTest, NamesTheFileOnlyWhenTheMessageDoesNot) {
  const fs::path file = "/data/in/frame.bmp";
  EXPECT_EQ(ErrorReportText("Is not a valid PNG !", file),
            "Is not a valid PNG !\n\nFile: /data/in/frame.bmp");
  EXPECT_EQ(ErrorReportText("Cannot read /data/in/frame.bmp", file),
            "Cannot read /data/in/frame.bmp");
  EXPECT_EQ(ErrorReportText("frame.bmp is too small", file), "frame.bmp is too small");
  EXPECT_EQ(ErrorReportText("Out of memory", fs::path()), "Out of memory");
}

TEST(DialogBoxesTest, OverwriteQuestionDefaultsToNoWithoutIcon) {
  const auto box =
      MakeQuestionBox(nullptr, "Overwrite image file?", "The file \"x\" already exists.");
  EXPECT_EQ(box->windowTitle(), "Overwrite image file?");
  EXPECT_EQ(box->text(), "The file \"x\" already exists.");
  EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
  EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));

  const auto inRun = MakeRunQuestionBox(nullptr, "Overwrite image file?", "x");
  QStringList buttons;
  for (QAbstractButton* button : inRun->buttons()) buttons << button->text();
  buttons.sort();
  EXPECT_EQ(buttons, QStringList({"&No", "&Stop", "&Yes", "N&o to all", "Yes to &all"}));
  EXPECT_EQ(inRun->defaultButton(), inRun->button(QMessageBox::No));

  const auto report = MakeErrorReportBox(nullptr, "Is not a valid PNG !");
  EXPECT_EQ(report->text(), "Is not a valid PNG !");
  EXPECT_EQ(report->standardButtons(), QMessageBox::Ok);
}

// The window's own boxes, answered by pressing Enter as soon as they are up.
TEST_F(MainFormTest, EnterOnTheRealOverwriteQuestionAnswersNoAndStopEndsARun) {
  const fs::path bmp = dir_ / "real.bmp";
  testing::WriteBmp(bmp, Ramp(60, 40));
  testing::WritePng(dir_ / "real.png", Ramp(8, 8));
  TFormQuillet form;  // real modal boxes
  form.show();
  QString caption;
  QTimer::singleShot(0, [&caption] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    QTest::keyClick(box, Qt::Key_Return);
  });
  Drop(form.ImageIn(), {bmp});
  QCoreApplication::processEvents();  // a box that never came up must not leave the timer behind
  EXPECT_EQ(caption, "Overwrite image file?");
  EXPECT_EQ(ReadOutput(dir_ / "real.png")->Width, 8u);

  // In a run with files to come, Stop on the box ends it.
  const fs::path second = dir_ / "second.bmp";
  testing::WriteBmp(second, Ramp(50, 40));
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&poll] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    poll.stop();
    for (QAbstractButton* button : box->buttons()) {
      if (button->text() == "&Stop") button->click();
    }
  });
  poll.start(10);
  Drop(form.ImageIn(), {bmp, second});
  EXPECT_EQ(form.StatusLine()->text(),
            "Cancelled after 1 of 2 files; 1 was left untouched. Of the 1: 1 not saved (exists)");
}

}  // namespace
}  // namespace tessaly
