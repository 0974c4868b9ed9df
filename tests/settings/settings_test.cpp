// Remembered values and the remembering radio group, over a per-user store kept in a
// temporary folder so no real settings are touched.
#include <QApplication>
#include <QFile>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include "settings/kov_radio_group.h"
#include "settings/registry_variables.h"

namespace tessaly {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    UseStoreFolder(dir_.path());
  }

  static void UseStoreFolder(const QString& folder) {
    for (auto scope : {QSettings::UserScope, QSettings::SystemScope}) {
      QSettings::setPath(QSettings::NativeFormat, scope, folder);
      QSettings::setPath(QSettings::IniFormat, scope, folder);
    }
  }

  QString StoreFile(const QString& baseName) const {
    return dir_.path() + "/Kestrelwood/" + baseName + ".conf";
  }

  static QVariant Stored(const QString& baseName, const QString& valueName) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Kestrelwood", baseName);
    return settings.value(valueName);
  }

  static void Store(const QString& baseName, const QString& valueName, const QVariant& value) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Kestrelwood", baseName);
    settings.setValue(valueName, value);
  }

  // The main window's group: " Source ", two items, index 0, remembered as "SourceID".
  static std::unique_ptr<TkovRadioGroup> SourceGroup(const QString& namedAs = "SourceID") {
    auto group = std::make_unique<TkovRadioGroup>();
    group->setObjectName("RadioGroupSourceID");
    group->setTitle(" Source ");
    group->SetItems({"Full bitmap", "Data lines only"});
    group->SetItemIndex(0);
    group->SetNamedAs(namedAs);
    return group;
  }

  QTemporaryDir dir_;
};

TEST_F(SettingsTest, KeyPathIsTheProgramKeyAndMakingAVariableTouchesNoStore) {
  EXPECT_EQ(ProgramBaseName("/opt/bin/Tessaly.exe"), "Tessaly");
  EXPECT_EQ(ProgramBaseName("/opt/v1.2/tessaly"), "tessaly");
  EXPECT_EQ(ProgramBaseName("/opt/bin/tessaly.old.exe"), "tessaly.old");
  EXPECT_EQ(RunningProgramBaseName(), "test_settings");

  const TRegistryVariable variable("SourceID", "Tessaly");
  EXPECT_EQ(variable.KeyPath(), "\\Software\\Kestrelwood\\Tessaly");
  EXPECT_EQ(variable.ValueName(), "SourceID");
  EXPECT_FALSE(QFile::exists(StoreFile("Tessaly")));
}

TEST_F(SettingsTest, FirstRunKeepsTheFormIndexAndCreatesTheValueAtExit) {
  auto group = SourceGroup();
  group->Loaded();
  EXPECT_EQ(group->ItemIndex(), 0);
  EXPECT_FALSE(QFile::exists(StoreFile("test_settings"))) << "reading must not create the key";

  group->SetItemIndex(1);
  EXPECT_EQ(group->RegistryValue()->Value(), 0) << "the store value follows only at exit";
  group.reset();
  EXPECT_EQ(StoredInteger(Stored("test_settings", "SourceID"), true), 1);
}

TEST_F(SettingsTest, RestoresTheStoredChoiceWithoutRunningTheClickHandler) {
  Store("test_settings", "SourceID", 1);
  auto group = SourceGroup();
  int clicks = 0;
  int emitted = 0;
  group->OnClick = [&clicks] { ++clicks; };
  QObject::connect(group.get(), &TkovRadioGroup::itemClicked, [&emitted](int) { ++emitted; });

  group->Loaded();
  EXPECT_EQ(group->ItemIndex(), 1);
  EXPECT_TRUE(group->Button(1)->isChecked());
  EXPECT_FALSE(group->Button(0)->isChecked());
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(emitted, 0);

  // The handler is back in place for the user's own choices.
  group->Button(0)->click();
  EXPECT_EQ(group->ItemIndex(), 0);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(emitted, 1);
  group->Loaded();  // a second load reads nothing and changes nothing
  EXPECT_EQ(group->ItemIndex(), 0);
  group.reset();
  EXPECT_EQ(StoredInteger(Stored("test_settings", "SourceID"), true), 0);
}

TEST_F(SettingsTest, ValueOfAnotherKindGivesTheDefaultAndIsReplacedByAnInteger) {
  for (const QString text : {"Data lines", "4294967296", "1.5", ""}) {
    Store("Tessaly", "SourceID", text);
    {
      TRegistryInteger value("SourceID", 7, "Tessaly");
      EXPECT_EQ(value.Value(), 7) << text.toStdString();
    }
    EXPECT_EQ(Stored("Tessaly", "SourceID").toString(), "7");
  }
  Store("Tessaly", "SourceID", QStringList{"1", "0"});
  {
    TRegistryInteger value("SourceID", 3, "Tessaly");
    EXPECT_EQ(value.Value(), 3);
  }
  Store("Tessaly", "SourceID", "-12");
  {
    TRegistryInteger value("SourceID", 3, "Tessaly");
    EXPECT_EQ(value.Value(), -12);
  }
}

TEST(StoredInteger, AcceptsIntegersAndTextOnlyInTextStores) {
  EXPECT_EQ(StoredInteger(QVariant(5), false), 5);
  EXPECT_EQ(StoredInteger(QVariant(0xFFFFFFFFu), false), -1);
  EXPECT_EQ(StoredInteger(QVariant(qlonglong{1} << 40), false), std::nullopt);
  EXPECT_EQ(StoredInteger(QVariant(qlonglong{-3}), false), -3);
  EXPECT_EQ(StoredInteger(QVariant(QString("5")), false), std::nullopt);
  EXPECT_EQ(StoredInteger(QVariant(QString("5")), true), 5);
  EXPECT_EQ(StoredInteger(QVariant(2.0), true), std::nullopt);
  EXPECT_EQ(StoredInteger(QVariant(), true), std::nullopt);
}

TEST_F(SettingsTest, EmptyNamedAsTakesTheComponentName) {
  Store("test_settings", "RadioGroupSourceID", 1);
  auto group = SourceGroup(QString());
  group->Loaded();
  EXPECT_EQ(group->NamedAs(), "RadioGroupSourceID");
  EXPECT_EQ(group->RegistryValue()->ValueName(), "RadioGroupSourceID");
  EXPECT_EQ(group->ItemIndex(), 1);
}

TEST_F(SettingsTest, ExecutablesUnderOtherNamesKeepSeparateChoices) {
  {
    TRegistryInteger value("SourceID", 0, "Tessaly");
    value.SetValue(1);
  }
  {
    TRegistryInteger copy("SourceID", 0, "TessalyCopy");
    EXPECT_EQ(copy.Value(), 0);
  }
  EXPECT_EQ(StoredInteger(Stored("TessalyCopy", "SourceID"), true), 0);

  // Only the program's own key counts, not organisation-wide values.
  QSettings(QSettings::NativeFormat, QSettings::UserScope, "Kestrelwood").setValue("Shared", 1);
  {
    TRegistryInteger shared("Shared", 0, "TessalyCopy");
    EXPECT_EQ(shared.Value(), 0);
  }

  // The same name in another folder shares the key.
  auto group = SourceGroup();
  group->SetProgramBaseName(ProgramBaseName("/elsewhere/Tessaly.exe"));
  group->Loaded();
  EXPECT_EQ(group->ItemIndex(), 1);
  EXPECT_EQ(group->RegistryValue()->KeyPath(), "\\Software\\Kestrelwood\\Tessaly");
}

TEST_F(SettingsTest, StoredIndexOutsideTheItemsIsClampedQuietly) {
  Store("test_settings", "SourceID", 5);
  auto high = SourceGroup();
  int clicks = 0;
  high->OnClick = [&clicks] { ++clicks; };
  high->Loaded();
  EXPECT_EQ(high->ItemIndex(), 1);
  EXPECT_EQ(clicks, 0);
  high.reset();

  Store("test_settings", "SourceID", -7);
  auto low = SourceGroup();
  low->Loaded();
  EXPECT_EQ(low->ItemIndex(), -1);
  EXPECT_FALSE(low->Button(0)->isChecked());
  EXPECT_FALSE(low->Button(1)->isChecked());
}

TEST_F(SettingsTest, UnreadableOrUnwritableStoresAreSilent) {
  // A key that cannot be opened: the store file is a folder.
  ASSERT_TRUE(QDir().mkpath(StoreFile("Tessaly")));
  {
    TRegistryInteger value("SourceID", 4, "Tessaly");
    EXPECT_EQ(value.Value(), 4);
    value.SetValue(9);
  }
  EXPECT_TRUE(QFileInfo(StoreFile("Tessaly")).isDir());

  // A store folder that cannot be made: its parent is a plain file.
  QFile blocker(dir_.path() + "/plain");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  UseStoreFolder(dir_.path() + "/plain/config");
  auto group = SourceGroup();
  group->Loaded();
  EXPECT_EQ(group->ItemIndex(), 0);
  group->SetItemIndex(1);
  group.reset();
  EXPECT_FALSE(QFile::exists(dir_.path() + "/plain/config"));
}

TEST(TkovRadioGroup, ChangesInCodeRunTheClickHandlerOncePerChange) {
  TkovRadioGroup group;
  group.SetItems({"Full bitmap", "Data lines only"});
  int clicks = 0;
  group.OnClick = [&clicks] { ++clicks; };
  group.SetItemIndex(1);
  group.SetItemIndex(1);
  EXPECT_EQ(clicks, 1);
  group.Button(1)->click();  // already selected
  EXPECT_EQ(clicks, 1);
  group.SetItemIndex(-1);
  EXPECT_EQ(group.ItemIndex(), -1);
  EXPECT_FALSE(group.Button(1)->isChecked());
  EXPECT_EQ(clicks, 1);

  group.SetItemIndex(0);
  group.SetItems({"Only"});
  EXPECT_EQ(group.ItemIndex(), 0);
  EXPECT_TRUE(group.Button(0)->isChecked());
  EXPECT_EQ(group.Button(1), nullptr);
  EXPECT_EQ(clicks, 2);
}

}  // namespace
}  // namespace tessaly

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
