#include "guarda_aplics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace corva {
namespace {

using Journal = std::vector<std::string>;

// Running applications as automation objects; every call is journalled as "App member [arg]".
struct FakeDocument {
  std::string name;
  std::string full_name;       // equal to name while never saved
  std::string fails_on = {};   // a member that raises an automation error
};

struct FakeInstance {
  std::string app;  // Word, Excel...
  std::vector<FakeDocument> documents = {};
  bool stays = false;      // Quit answers, but the instance never goes away
  int quit_cost_ms = 0;    // how long Quit takes
  bool quit = false;
  int busy_calls = 0;  // the next calls that are turned away because it is busy
};

class FakeOfficeWorld;

class FakeObject : public AutomationObject {
 public:
  enum class Kind { Application, Collection, Document };
  FakeObject(FakeOfficeWorld& world, FakeInstance& instance, Kind kind, std::size_t doc = 0)
      : world_(world), instance_(instance), kind_(kind), doc_(doc) {}
  AutomationValue Call(std::string_view member, const std::vector<AutomationArg>& args) override;

 private:
  FakeOfficeWorld& world_;
  FakeInstance& instance_;
  Kind kind_;
  std::size_t doc_;
};

class FakeOfficeWorld : public OfficeAutomation, public DesktopWindows, public SavingHost,
                        public KeyboardApi {
 public:
  std::shared_ptr<AutomationObject> GetRunningObject(std::string_view prog_id) override {
    attaches.emplace_back(prog_id);
    const std::string app(prog_id.substr(0, prog_id.find('.')));
    for (auto& instance : instances) {
      if (instance.app == app && !instance.quit) {
        return std::make_shared<FakeObject>(*this, instance, FakeObject::Kind::Application);
      }
    }
    return nullptr;
  }

  // Top-level windows.
  struct Window {
    WindowHandle handle;
    std::string title;
    WindowHandle owner = 0;
    bool visible = true;
    bool hung = false;  // its thread never handles a message
  };
  std::vector<WindowHandle> EnumTopWindows() override {
    std::vector<WindowHandle> all;
    for (const auto& w : windows) all.push_back(w.handle);
    return all;
  }
  WindowHandle MainWindow() override { return 1; }
  const Window* Find(WindowHandle h) {
    auto it = std::find_if(windows.begin(), windows.end(), [h](auto& w) { return w.handle == h; });
    return it == windows.end() ? nullptr : &*it;
  }
  bool IsVisible(WindowHandle h) override { return Find(h) && Find(h)->visible; }
  WindowHandle Owner(WindowHandle h) override { return Find(h) ? Find(h)->owner : 0; }
  std::string Title(WindowHandle h) override { return Find(h) ? Find(h)->title : ""; }
  bool SendClose(WindowHandle h, std::uint64_t timeout_ms) override {
    close_timeouts.push_back(timeout_ms);
    if (Find(h) && Find(h)->hung) {
      now_ms += timeout_ms;  // waits the whole time, then gives up
      journal.push_back("WM_CLOSE unanswered " + Title(h));
      return false;
    }
    journal.push_back("WM_CLOSE " + Title(h));
    std::erase_if(windows, [h](auto& w) { return w.handle == h; });
    return true;
  }
  void BringWindowToFront(WindowHandle h) override { journal.push_back("front " + Title(h)); }

  // Time and files.
  std::uint64_t NowMs() override { return now_ms; }
  void Pause(int ms) override {
    pauses.push_back(ms);
    now_ms += static_cast<std::uint64_t>(ms);
  }
  void DoEvents() override { ++do_events; }
  bool NameTaken(const std::string& path) override { return all_taken || taken.count(path) != 0; }

  // The keyboard.
  void KeybdEvent(std::uint8_t vk, std::uint32_t flags) override {
    journal.push_back("key " + std::to_string(vk) + " " + std::to_string(flags));
  }
  std::int32_t GetVersion() override { return 0; }
  std::int16_t VkKeyScanA(char c) override { return c; }
  std::int16_t VkKeyScanW(char16_t c) override { return static_cast<std::int16_t>(c); }
  std::string ToAnsi(std::string_view t) override { return std::string(t); }

  std::vector<FakeInstance> instances;
  std::vector<Window> windows;
  Journal journal;
  std::vector<std::string> attaches;
  std::set<std::string> taken;
  bool all_taken = false;
  std::vector<int> pauses;
  std::vector<std::uint64_t> close_timeouts;
  std::uint64_t now_ms = 1'000'000;
  int do_events = 0;
  // A call that takes this long (member -> ms), to spend the budget.
  std::map<std::string, std::uint64_t> slow_members;
};

AutomationValue FakeObject::Call(std::string_view member, const std::vector<AutomationArg>& args) {
  std::string line = instance_.app + " " + std::string(member);
  for (const auto& arg : args) {
    line += " " + (std::holds_alternative<std::string>(arg) ? std::get<std::string>(arg)
                                                           : std::to_string(std::get<std::int32_t>(arg)));
  }
  if (instance_.busy_calls > 0) {
    --instance_.busy_calls;
    world_.journal.push_back(instance_.app + " busy");
    throw AutomationError(std::string(member) + " turned away", true);
  }
  world_.journal.push_back(line);
  if (auto slow = world_.slow_members.find(std::string(member)); slow != world_.slow_members.end()) {
    world_.now_ms += slow->second;
  }
  auto& docs = instance_.documents;
  switch (kind_) {
    case Kind::Application:
      if (member == "Quit") {
        world_.now_ms += static_cast<std::uint64_t>(instance_.quit_cost_ms);
        instance_.quit = !instance_.stays;
        return {};
      }
      if (member == "Documents" || member == "Presentations" || member == "WorkBooks") {
        return std::make_shared<FakeObject>(world_, instance_, Kind::Collection);
      }
      break;
    case Kind::Collection:
      if (member == "Count") return static_cast<std::int32_t>(docs.size());
      if (member == "Item") {
        const auto i = std::get<std::int32_t>(args.at(0));
        if (i < 1 || static_cast<std::size_t>(i) > docs.size()) throw AutomationError("Item");
        return std::make_shared<FakeObject>(world_, instance_, Kind::Document,
                                            static_cast<std::size_t>(i - 1));
      }
      break;
    case Kind::Document: {
      FakeDocument& d = docs.at(doc_);
      if (d.fails_on == member) throw AutomationError(std::string(member) + " failed");
      if (member == "Name") return d.name;
      if (member == "FullName") return d.full_name;
      if (member == "Save") return {};
      if (member == "SaveAs") {
        world_.taken.insert(std::get<std::string>(args.at(0)));
        return {};
      }
      if (member == "Close") {
        docs.erase(docs.begin() + static_cast<std::ptrdiff_t>(doc_));
        return {};
      }
      break;
    }
  }
  throw AutomationError("unknown member " + std::string(member));
}

class GuardaAplicsTest : public ::testing::Test {
 protected:
  GuardaAplics Saver() { return GuardaAplics({world, world, world, keys}, "D:\\Guardar\\"); }
  // The journal lines of one application, in order.
  Journal Of(const std::string& app) {
    Journal out;
    for (const auto& line : world.journal) {
      if (line.starts_with(app + " ")) out.push_back(line);
    }
    return out;
  }
  std::ptrdiff_t IndexOf(const std::string& line) {
    auto it = std::find(world.journal.begin(), world.journal.end(), line);
    return it == world.journal.end() ? -1 : it - world.journal.begin();
  }
  // Every line is in the journal, each after the one before it.
  ::testing::AssertionResult InOrder(const std::vector<std::string>& lines) {
    std::ptrdiff_t last = -1;
    for (const auto& line : lines) {
      const auto at = IndexOf(line);
      if (at < 0) return ::testing::AssertionFailure() << "no \"" << line << "\"";
      if (at <= last) return ::testing::AssertionFailure() << "\"" << line << "\" too early";
      last = at;
    }
    return ::testing::AssertionSuccess();
  }
  std::vector<std::string> Starting(const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& line : world.journal) {
      if (line.starts_with(prefix)) out.push_back(line);
    }
    return out;
  }

  FakeOfficeWorld world;
  cSendKeys keys{world, "Corvamon"};
};

TEST_F(GuardaAplicsTest, WithNoOfficeRunningEachPassFindsNothing) {
  world.windows = {{1, "KRD Corvamon"}, {2, "Bloc de notas"}};
  GuardaAplics saver = Saver();
  saver.SaveAllOffice();
  EXPECT_TRUE(world.journal.empty());
  EXPECT_EQ(world.attaches, (std::vector<std::string>{"Word.Application", "Publisher.Application",
                                                      "PowerPoint.Application",
                                                      "Excel.Application"}));
  EXPECT_EQ(saver.ExcelPasses(), 1);
  EXPECT_EQ(world.do_events, 1);  // Excel's pass lets messages run first
}

TEST_F(GuardaAplicsTest, DialogsCloseFirstThenDocumentsAreSavedBackwardsAndAppsQuit) {
  world.windows = {{10, "Documento1 - Microsoft Word"},
                   {11, "Guardar como", 10},
                   {12, "Mensaje oculto", 10, false},
                   {20, "Microsoft Excel - Libro1"},
                   {1, "KRD Corvamon"},
                   {30, "Notas", 1}};
  world.instances = {
      {"Word",
       {{"Documento1", "Documento1"}, {"Carta.doc", "C:\\Cartas\\Carta.doc"}, {"Documento3", "Documento3"}}},
      {"PowerPoint",
       {{"informe.ppt", "http://servidor/informe.ppt"}, {"Ventas.ppt", "C:\\P\\Ventas.ppt"}}},
      {"Excel", {{"Libro1", "Libro1"}}},
      {"Excel", {{"Cuentas.xls", "C:\\Cuentas.xls"}}},
  };
  world.taken = {"D:\\Guardar\\Documento3.doc"};
  GuardaAplics saver = Saver();
  saver.SaveAllOffice();

  EXPECT_EQ(world.journal.front(), "WM_CLOSE Guardar como");
  EXPECT_EQ(IndexOf("WM_CLOSE Notas"), -1);  // owned by a window without a keyword
  EXPECT_EQ(IndexOf("WM_CLOSE Mensaje oculto"), -1);  // not visible
  EXPECT_EQ(Of("Word"), (Journal{"Word Documents", "Word Count",
                                 "Word Item 3", "Word Name", "Word FullName",
                                 "Word SaveAs D:\\Guardar\\Documento1.doc", "Word Close",
                                 "Word Item 2", "Word Name", "Word FullName", "Word Save",
                                 "Word Close",
                                 "Word Item 1", "Word Name", "Word FullName",
                                 "Word SaveAs D:\\Guardar\\Documento2.doc", "Word Close",
                                 "Word Quit"}));
  // A presentation opened from a web address is saved into the folder, not in place.
  EXPECT_NE(IndexOf("PowerPoint SaveAs D:\\Guardar\\informe.ppt.ppt"), -1);
  EXPECT_NE(IndexOf("PowerPoint Save"), -1);
  EXPECT_NE(IndexOf("PowerPoint Quit"), -1);
  // Escape reaches each Excel window before Excel's pass; then one pass per instance and a
  // last one that finds none, 500 ms apart.
  EXPECT_TRUE(InOrder({"PowerPoint Quit", "front Microsoft Excel - Libro1", "key 27 1", "key 27 3",
                       "Excel WorkBooks"}));
  EXPECT_NE(IndexOf("Excel SaveAs D:\\Guardar\\Libro1.xls"), -1);
  EXPECT_NE(IndexOf("Excel Save"), -1);
  EXPECT_EQ(saver.ExcelPasses(), 3);
  EXPECT_EQ(world.pauses, (std::vector<int>{200, 200, 500, 500}));
  EXPECT_EQ(std::count(world.journal.begin(), world.journal.end(), "Excel Quit"), 2);
}

TEST_F(GuardaAplicsTest, TheWindowScansKeepToTheirRules) {
  world.windows = {
      {1, "Microsoft Excel - Corvamon"},  // the monitor's own, whatever its title says
      {2, "Ayuda", 1},
      {10, "Documento1 - Microsoft Word"},
      {11, "Guardar como", 10},
      {12, "Mensaje oculto", 10, false},
      {20, "Microsoft Word - Buscar", 99},  // owned itself: not a main window
      {21, "Opciones", 20},
      {30, "Libro1.xls - Excel"},  // a main window for the dialogs, but no Escape
      {31, "Formato de celdas", 30},
      {40, "Microsoft Excel - Cuentas.xls"},
  };
  Saver().SaveAllOffice();
  EXPECT_EQ(Starting("WM_CLOSE"),
            (std::vector<std::string>{"WM_CLOSE Guardar como", "WM_CLOSE Formato de celdas"}));
  EXPECT_EQ(Starting("front"), std::vector<std::string>{"front Microsoft Excel - Cuentas.xls"});
  EXPECT_EQ(Starting("key"), (std::vector<std::string>{"key 27 1", "key 27 3"}));
}

TEST_F(GuardaAplicsTest, AHungDialogCostsOneBoundedWaitAndTheOthersAreStillSaved) {
  world.windows = {{10, "Informe - Microsoft Word"},
                   {11, "Guardar como", 10, true, true},
                   {20, "Microsoft PowerPoint - [Ventas.ppt]"},
                   {21, "Abrir", 20}};
  world.instances = {{"Word", {{"Documento1", "Documento1"}}},
                     {"PowerPoint", {{"Ventas.ppt", "C:\\P\\Ventas.ppt"}}}};
  const std::uint64_t start = world.now_ms;
  GuardaAplics saver = Saver();
  saver.SaveAllOffice();
  EXPECT_FALSE(saver.BudgetSpent());
  EXPECT_TRUE(InOrder({"WM_CLOSE unanswered Guardar como", "WM_CLOSE Abrir",
                       "Word SaveAs D:\\Guardar\\Documento1.doc", "Word Quit", "PowerPoint Save",
                       "PowerPoint Quit"}));
  ASSERT_EQ(world.close_timeouts.size(), 2u);
  for (const auto timeout : world.close_timeouts) {
    EXPECT_GT(timeout, 0u);
    EXPECT_LE(timeout, 10'000u) << "a few seconds per window";
  }
  EXPECT_LT(world.now_ms - start, kSavingBudgetMs / 4);

  // The wait never runs past the budget.
  world.journal.clear();
  world.close_timeouts.clear();
  world.windows = {{10, "Informe - Microsoft Word"}, {11, "Guardar como", 10, true, true}};
  saver.SaveAllOffice(world.now_ms, 1000);
  ASSERT_EQ(world.close_timeouts.size(), 1u);
  EXPECT_LE(world.close_timeouts[0], 1000u);
  EXPECT_TRUE(saver.BudgetSpent());
}

TEST_F(GuardaAplicsTest, ABusyApplicationIsCalledAgainUntilItAnswersWithinTheBudget) {
  world.instances = {{"Word", {{"Carta.doc", "C:\\Carta.doc"}}, false, 0, false, 6},
                     {"PowerPoint", {{"Ventas.ppt", "C:\\P\\Ventas.ppt"}}}};
  GuardaAplics saver = Saver();
  saver.SaveAllOffice();
  EXPECT_EQ(saver.BusyRetries(), 6);
  EXPECT_EQ(std::count(world.journal.begin(), world.journal.end(), "Word busy"), 6);
  EXPECT_TRUE(
      InOrder({"Word Documents", "Word Save", "Word Close", "Word Quit", "PowerPoint Quit"}));
  EXPECT_EQ(world.pauses.size(), 6u);
  for (const int pause : world.pauses) EXPECT_GT(pause, 0);

  // Busy for good: the calls go on until the budget ends, and not past it.
  world.journal.clear();
  world.attaches.clear();
  world.instances = {{"Word", {{"Carta.doc", "C:\\Carta.doc"}}, false, 0, false, 1'000'000},
                     {"PowerPoint", {{"Ventas.ppt", "C:\\P\\Ventas.ppt"}}}};
  const std::uint64_t start = world.now_ms;
  saver.SaveAllOffice(start, 5000);
  EXPECT_TRUE(saver.BudgetSpent());
  EXPECT_GT(saver.BusyRetries(), 1);
  EXPECT_LE(world.now_ms, start + 5000);
  EXPECT_EQ(world.attaches, std::vector<std::string>{"Word.Application"});
  EXPECT_EQ(IndexOf("Word Documents"), -1);
}

TEST_F(GuardaAplicsTest, NoEscapeGoesOutOnceTheBudgetIsSpent) {
  world.windows = {{20, "Microsoft Excel - Libro1"}, {21, "Microsoft Excel - Libro2"}};
  GuardaAplics saver = Saver();
  // Spent during the pause before the first window's key.
  saver.SaveAllOffice(world.now_ms, kEditModePauseMs / 2);
  EXPECT_TRUE(saver.BudgetSpent());
  EXPECT_EQ(Starting("front"), std::vector<std::string>{"front Microsoft Excel - Libro1"});
  EXPECT_TRUE(Starting("key").empty());
}

TEST_F(GuardaAplicsTest, AnErrorEndsThatPassOnlyAndPublisherForgivesOne) {
  world.instances = {
      {"Word", {{"A.doc", "C:\\A.doc"}, {"B.doc", "C:\\B.doc", "Save"}, {"C.doc", "C:\\C.doc"}}},
      {"Publisher",
       {{"P1", "P1", "SaveAs"}, {"P2.pub", "C:\\P2.pub"}, {"P3.pub", "C:\\P3.pub", "Save"}}},
      {"PowerPoint", {{"V.ppt", "C:\\V.ppt"}}},
  };
  Saver().SaveAllOffice();
  // Word stops at the failing Save: document 1 is left alone and Word is not quit.
  EXPECT_EQ(Of("Word").back(), "Word Save");
  EXPECT_EQ(IndexOf("Word Item 1"), -1);
  // Publisher: document 3's error skips its Close, document 2 goes on, document 1's second
  // error ends the pass without Quit.
  EXPECT_EQ(Of("Publisher"),
            (Journal{"Publisher Documents", "Publisher Count", "Publisher Item 3",
                     "Publisher Name", "Publisher FullName", "Publisher Save", "Publisher Item 2",
                     "Publisher Name", "Publisher FullName", "Publisher Save", "Publisher Close",
                     "Publisher Item 1", "Publisher Name", "Publisher FullName",
                     "Publisher SaveAs D:\\Guardar\\P1.pub"}));
  EXPECT_EQ(Of("PowerPoint").back(), "PowerPoint Quit");

  // One error only: Publisher is quit.
  world.journal.clear();
  world.instances = {{"Publisher", {{"P1.pub", "C:\\P1.pub"}, {"P2.pub", "C:\\P2.pub", "Close"}}}};
  Saver().SaveAllOffice();
  EXPECT_EQ(Of("Publisher").back(), "Publisher Quit");
}

TEST_F(GuardaAplicsTest, AnExcelThatNeverGoesAwayStopsTheLoopAtItsBounds) {
  world.instances = {{"Excel", {}, true}};
  GuardaAplics saver = Saver();
  saver.SaveAllOffice();
  EXPECT_EQ(saver.ExcelPasses(), kMaxExcelPasses);

  // When each Quit takes long, time ends the loop before the count does.
  world.instances = {{"Excel", {}, true, 4000}};
  saver.SaveAllOffice();
  EXPECT_LT(saver.ExcelPasses(), kMaxExcelPasses);
  EXPECT_EQ(saver.ExcelPasses(), static_cast<int>((kExcelLoopLimitMs + 4499) / 4500));
  EXPECT_FALSE(saver.BudgetSpent());
}

TEST_F(GuardaAplicsTest, ASpentBudgetEndsTheSavingWhereverItIs) {
  world.instances = {{"Word", {{"Documento1", "Documento1"}, {"Documento2", "Documento2"}}},
                     {"Excel", {{"Libro1", "Libro1"}}}};
  world.slow_members["SaveAs"] = kSavingBudgetMs;
  GuardaAplics saver = Saver();
  saver.SaveAllOffice();
  EXPECT_TRUE(saver.BudgetSpent());
  EXPECT_EQ(Of("Word").back(), "Word SaveAs D:\\Guardar\\Documento2.doc");  // no Close after it
  EXPECT_EQ(world.attaches, std::vector<std::string>{"Word.Application"});
  EXPECT_TRUE(Of("Excel").empty());
}

TEST_F(GuardaAplicsTest, SaveNamesCountUpFromTheLeadingTextAndStayInTheFolder) {
  GuardaAplics saver = Saver();
  EXPECT_EQ(saver.MakeSaveName("Documento1", ".doc"), "D:\\Guardar\\Documento1.doc");
  world.taken.insert("D:\\Guardar\\Documento1.doc");
  EXPECT_EQ(saver.MakeSaveName("Documento1", ".doc"), "D:\\Guardar\\Documento2.doc");
  world.taken.insert("D:\\Guardar\\Documento2.doc");
  EXPECT_EQ(saver.MakeSaveName("Documento1", ".doc"), "D:\\Guardar\\Documento3.doc");

  EXPECT_EQ(saver.MakeSaveName("..\\..\\Windows\\x", ".doc"), "D:\\Guardar\\.._.._Windows_x.doc");
  EXPECT_EQ(saver.MakeSaveName("Q1/Q2: \"ventas\" <a|b>?*", ".xls"),
            "D:\\Guardar\\Q1_Q2_ _ventas_ _a_b___.xls");
  EXPECT_EQ(saver.MakeSaveName("con", ".pub"), "D:\\Guardar\\con_.pub");
  EXPECT_EQ(saver.MakeSaveName("Presentación1", ".ppt"), "D:\\Guardar\\Presentación1.ppt");
  // Numbered names come from the safe name too.
  world.taken.insert("D:\\Guardar\\.._.._x1.doc");
  EXPECT_EQ(saver.MakeSaveName("..\\..\\x1", ".doc"), "D:\\Guardar\\.._.._x2.doc");
  // Every name taken, up to the highest counter: none.
  world.all_taken = true;
  GuardaAplics short_count({world, world, world, keys}, "D:\\Guardar\\", 50);
  EXPECT_EQ(short_count.MakeSaveName("Libro1", ".xls"), "");
  world.all_taken = false;
  world.taken = {"D:\\Guardar\\Libro1.xls"};
  for (int k = 1; k < 50; ++k)
    world.taken.insert("D:\\Guardar\\Libro" + std::to_string(k) + ".xls");
  EXPECT_EQ(short_count.MakeSaveName("Libro1", ".xls"), "D:\\Guardar\\Libro50.xls");

  EXPECT_EQ(LeadingNonDigits("Libro12"), "Libro");
  EXPECT_EQ(LeadingNonDigits("Informe"), "Informe");
  EXPECT_EQ(LeadingNonDigits("2024 balance"), "");
}

}  // namespace
}  // namespace corva
