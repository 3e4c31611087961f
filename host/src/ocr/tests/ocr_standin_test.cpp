// The OCR methods against stand-in runtime classes that combase activates from the
// registry: the whole call sequence, every failure step, asynchronous completion on other
// threads, and that every runtime object is released on every path.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/base64.h"
#include "common/error_text.h"
#include "ocr/ocr.h"
#include "ocr/ocr_core.h"
#include "standin_control.h"
#include "standin_registration.h"

namespace quorvane::ocr {
namespace {

class RegisteredStandin : public ::testing::Environment {
 public:
  void SetUp() override {
    registration_ = std::make_unique<testing::StandinRegistration>();
    ASSERT_TRUE(registration_->ok()) << "cannot register the stand-in classes";
  }
  void TearDown() override { registration_.reset(); }

 private:
  std::unique_ptr<testing::StandinRegistration> registration_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new RegisteredStandin);

// Two lines, the second with one word; the full text is the engine's own.
constexpr std::string_view kTwoLines =
    "QVIMG 640 480\n"
    "L Hello world\n"
    "W 12 20 50.5 14 Hello\n"
    "W 70.25 20 60 14 world\n"
    "L Gr\xC3\xBC\xC3\x9F"
    "e\n"
    "W 1 40 30 12 Gr\xC3\xBC\xC3\x9F"
    "e\n"
    "T Hello world\\u000aGr\xC3\xBC\xC3\x9F"
    "e\n";

json two_lines_result() {
  auto word = [](double x, double y, double w, double h, const char* text) {
    return json{{"rect", {{"x", x}, {"y", y}, {"width", w}, {"height", h}}}, {"text", text}};
  };
  return json{{"lines",
               {{{"text", "Hello world"},
                 {"words", {word(12.0, 20.0, 50.5, 14.0, "Hello"), word(70.25, 20.0, 60.0, 14.0, "world")}}},
                {{"text",
                  "Gr\xC3\xBC\xC3\x9F"
                  "e"},
                 {"words",
                  {word(1.0, 40.0, 30.0, 12.0,
                        "Gr\xC3\xBC\xC3\x9F"
                        "e")}}}}},
              {"text",
               "Hello world\nGr\xC3\xBC\xC3\x9F"
               "e"}};
}

std::string content(std::string_view image) { return base64_encode(image); }

std::string standin_log() { return quorvane_ocr_standin_log(); }

// One request under `script`; afterwards every object the stand-in handed out must be gone.
HandlerResult run(HandlerResult (*method)(std::string_view, const json&), const json& params,
                  const std::string& script = "") {
  SetEnvironmentVariableA("QUORVANE_OCR_STANDIN", script.c_str());
  quorvane_ocr_standin_reset();
  HandlerResult result = method("", params);
  quorvane_ocr_standin_quiesce();
  std::string log = standin_log();
  EXPECT_EQ(quorvane_ocr_standin_live_objects(), 0) << "runtime objects leaked under '" << script << "'\n" << log;
  EXPECT_EQ(log.find("UNEXPECTED"), std::string::npos) << log;
  EXPECT_EQ(log.find(" was not given "), std::string::npos) << log;
  EXPECT_EQ(log.find("handler"), std::string::npos) << log;
  return result;
}

std::string error_of(const HandlerResult& result) { return result.ok() ? "<success>" : result.error(); }

std::string failed(const char* step, std::uint32_t code) {
  return "ocr_failed: " + std::string(step) + ": " + platform_error_text(code);
}

constexpr std::uint32_t kDenied = 0x80070005u;
constexpr std::uint32_t kInvalidArg = 0x80070057u;

// Runs first in this program: the serving thread starts in no apartment, the first
// activation is refused, the host joins the MTA once and tries again; the factory is then
// kept and never activated again.
TEST(OcrStandin, FirstActivationJoinsTheMtaAndFactoriesAreCached) {
  if (std::string(quorvane_ocr_standin_activation_log()) != "") GTEST_SKIP() << "not the first activation";
  HandlerResult languages = run(&ocr_language_list, json());
  ASSERT_TRUE(languages.ok()) << languages.error();
  EXPECT_EQ(languages.value(), json({"en-US", "de-DE"}));
  EXPECT_EQ(std::string(quorvane_ocr_standin_activation_log()),
            "Windows.Media.Ocr.OcrEngine 800401F0\n"
            "Windows.Media.Ocr.OcrEngine 00000000\n");

  for (int i = 0; i < 2; ++i) {
    HandlerResult result = run(&ocr_image, json{{"content", content(kTwoLines)}, {"language", "en-US"}});
    ASSERT_TRUE(result.ok()) << result.error();
  }
  EXPECT_TRUE(run(&ocr_language_list, json()).ok());
  EXPECT_EQ(std::string(quorvane_ocr_standin_activation_log()),
            "Windows.Media.Ocr.OcrEngine 800401F0\n"
            "Windows.Media.Ocr.OcrEngine 00000000\n"
            "Windows.Globalization.Language 00000000\n"
            "Windows.Storage.Streams.InMemoryRandomAccessStream 00000000\n"
            "Windows.Storage.Streams.DataWriter 00000000\n"
            "Windows.Graphics.Imaging.BitmapDecoder 00000000\n");
}

// The result walk's calls for one line of `words` words: the line's iterator has it, the
// words' iterator yields each word, then runs out.
std::string line_calls(int words) {
  std::string out = "LinesIterator.get_HasCurrent\nLinesIterator.get_Current\nOcrLine.get_Words\nWords.First\n";
  for (int i = 0; i < words; ++i) {
    out +=
        "WordsIterator.get_HasCurrent\nWordsIterator.get_Current\nOcrWord.get_BoundingRect\nOcrWord.get_Text\n"
        "WordsIterator.MoveNext\n";
  }
  out += "WordsIterator.get_HasCurrent\nOcrLine.get_Text\nLinesIterator.MoveNext\n";
  return out;
}

TEST(OcrStandin, RecognitionMakesTheCallsInOrder) {
  HandlerResult result = run(&ocr_image, json{{"content", content(kTwoLines)}, {"language", "de-DE"}});
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result.value(), two_lines_result());
  EXPECT_EQ(result.value().dump(), two_lines_result().dump());
  // Operations that have finished when they are returned are not waited for.
  EXPECT_EQ(standin_log(),
            "LanguageFactory.CreateLanguage(de-DE)\n"
            "OcrEngineStatics.TryCreateFromLanguage\n"
            "Stream.ActivateInstance\n"
            "DataWriterFactory.CreateDataWriter\n"
            "DataWriter.WriteBytes(" +
                std::to_string(kTwoLines.size()) +
                ")\n"
                "DataWriter.StoreAsync\n"
                "DataWriter.StoreAsync.result\n"
                "DataWriter.StoreAsync.GetResults\n"
                "DataWriter.DetachStream\n"
                "Stream.Seek(0)\n"
                "BitmapDecoderStatics.CreateAsync\n"
                "BitmapDecoderStatics.CreateAsync.result\n"
                "BitmapDecoderStatics.CreateAsync.GetResults\n"
                "BitmapDecoder.GetSoftwareBitmapAsync\n"
                "BitmapDecoder.GetSoftwareBitmapAsync.result\n"
                "BitmapDecoder.GetSoftwareBitmapAsync.GetResults\n"
                "OcrEngineStatics.get_MaxImageDimension\n"
                "SoftwareBitmap.get_PixelWidth\n"
                "SoftwareBitmap.get_PixelHeight\n"
                "OcrEngine.RecognizeAsync(de-DE)\n"
                "OcrEngine.RecognizeAsync.result\n"
                "OcrEngine.RecognizeAsync.GetResults\n"
                "OcrResult.get_Lines\n"
                "Lines.First\n" +
                line_calls(2) + line_calls(1) +
                "LinesIterator.get_HasCurrent\n"
                "OcrResult.get_Text\n");
}

TEST(OcrStandin, OperationsFinishingLaterOrInsideTheRegistrationAreAwaited) {
  for (const char* mode : {"async=later", "async=inline"}) {
    HandlerResult result = run(&ocr_image, json{{"content", content(kTwoLines)}}, mode);
    ASSERT_TRUE(result.ok()) << mode << ": " << result.error();
    EXPECT_EQ(result.value(), two_lines_result()) << mode;
    std::string log = standin_log();
    for (const char* op : {"DataWriter.StoreAsync", "BitmapDecoderStatics.CreateAsync",
                           "BitmapDecoder.GetSoftwareBitmapAsync", "OcrEngine.RecognizeAsync"}) {
      std::string waited = std::string(op) + ".put_Completed\n";
      std::string invoked = std::string(op) + ".Invoke\n";
      std::string fetched = std::string(op) + ".GetResults\n";
      ASSERT_NE(log.find(waited), std::string::npos) << mode << " " << op << "\n" << log;
      ASSERT_NE(log.find(invoked), std::string::npos) << mode << " " << op << "\n" << log;
      EXPECT_LT(log.find(invoked), log.find(fetched)) << mode << " " << op << "\n" << log;
      EXPECT_EQ(log.find(waited, log.find(waited) + 1), std::string::npos) << "handler set twice: " << op;
    }
    EXPECT_NE(log.find("OcrEngineStatics.TryCreateFromUserProfileLanguages\n"), std::string::npos);
  }
  // A failing operation finishing on another thread reports its own error.
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", content(kTwoLines)}},
                         "async=later;fail=OcrEngine.RecognizeAsync.result:80070005")),
            failed("recognize", kDenied));
}

TEST(OcrStandin, EngineChoice) {
  std::string unavailable(kOcrLanguageUnavailableMessage);
  json image = content(kTwoLines);
  // A language without OCR support gives a null engine, and there is no fallback.
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image}, {"language", "xx-YY"}})), unavailable);
  EXPECT_EQ(standin_log().find("TryCreateFromUserProfileLanguages"), std::string::npos);
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image}}, "profile=none")), unavailable);
  EXPECT_EQ(
      error_of(run(&ocr_image, json{{"content", image}}, "fail=OcrEngineStatics.TryCreateFromUserProfileLanguages")),
      unavailable);
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image}, {"language", "en-US"}},
                         "fail=OcrEngineStatics.TryCreateFromLanguage:80070005")),
            unavailable);
  // The profile language is used when none is asked for, also for a non-string language.
  ASSERT_TRUE(run(&ocr_image, json{{"content", image}, {"language", 5}}, "profile=fr-FR").ok());
  EXPECT_NE(standin_log().find("OcrEngine.RecognizeAsync(fr-FR)"), std::string::npos);
  ASSERT_TRUE(run(&ocr_image, json{{"content", image}, {"language", "de-de"}}).ok());

  // Tags the platform rejects.
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image}, {"language", "en US"}})),
            failed("language", kInvalidArg));
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image}, {"language", ""}})), failed("language", kInvalidArg));
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image}, {"language", "en-US"}},
                         "fail=LanguageFactory.CreateLanguage:80070005")),
            failed("language", kDenied));
  EXPECT_EQ(
      error_of(run(&ocr_image, json{{"content", image}, {"language", "en-US"}}, "null=LanguageFactory.CreateLanguage")),
      failed("language", 0));
}

struct StepFailure {
  const char* script;
  const char* step;
  std::uint32_t code;
};

TEST(OcrStandin, EveryStepReportsItsOwnFailure) {
  const StepFailure cases[] = {
      {"fail=Stream.ActivateInstance:80070005", "stream", kDenied},
      {"null=Stream.ActivateInstance", "stream", 0},
      {"fail=DataWriterFactory.CreateDataWriter:80070005", "writer", kDenied},
      {"null=DataWriterFactory.CreateDataWriter", "writer", 0},
      {"fail=DataWriter.WriteBytes:80070005", "write", kDenied},
      {"fail=DataWriter.StoreAsync:80070005", "store", kDenied},
      {"null=DataWriter.StoreAsync", "store", 0},
      {"fail=DataWriter.StoreAsync.result:80070005", "store", kDenied},
      {"async=later;fail=DataWriter.StoreAsync.result:80070005", "store", kDenied},
      {"fail=DataWriter.DetachStream:80070005", "detach", kDenied},
      {"fail=Stream.Seek:80070005", "seek", kDenied},
      {"fail=BitmapDecoder.GetSoftwareBitmapAsync:80070005", "bitmap", kDenied},
      {"fail=BitmapDecoder.GetSoftwareBitmapAsync.result:80070005", "bitmap", kDenied},
      {"null=BitmapDecoder.GetSoftwareBitmapAsync.result", "bitmap", 0},
      {"fail=SoftwareBitmap.get_PixelWidth:80070005", "size", kDenied},
      {"fail=SoftwareBitmap.get_PixelHeight:80070005", "size", kDenied},
      {"fail=OcrEngine.RecognizeAsync:80070005", "recognize", kDenied},
      {"null=OcrEngine.RecognizeAsync", "recognize", 0},
      {"fail=OcrEngine.RecognizeAsync.result:80070005", "recognize", kDenied},
      {"null=OcrEngine.RecognizeAsync.result", "recognize", 0},
      {"fail=OcrResult.get_Lines:80070005", "lines", kDenied},
      {"null=OcrResult.get_Lines", "lines", 0},
      {"fail=Lines.First:80070005", "lines", kDenied},
      {"fail=OcrLine.get_Words@2:80070005", "words", kDenied},
      {"null=OcrLine.get_Words", "words", 0},
      {"fail=Words.First@2:80070005", "words", kDenied},
      {"fail=OcrWord.get_BoundingRect@3:80070005", "rect", kDenied},
      {"fail=OcrWord.get_Text@2:80070005", "word text", kDenied},
      {"fail=OcrLine.get_Text@2:80070005", "line text", kDenied},
      {"fail=OcrResult.get_Text:80070005", "text", kDenied},
  };
  for (const StepFailure& c : cases)
    EXPECT_EQ(error_of(run(&ocr_image, json{{"content", content(kTwoLines)}}, c.script)), failed(c.step, c.code))
        << c.script;
}

TEST(OcrStandin, WhatTheDecoderCannotRead) {
  const std::uint32_t kNoDecoder = 0x88982F50u;
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", content("GIF89a not really")}})),
            "bad_image: cannot decode: " + platform_error_text(kNoDecoder));
  // Empty images are not refused by the host; the decoder refuses them.
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", ""}})),
            "bad_image: cannot decode: " + platform_error_text(kNoDecoder));
  EXPECT_NE(standin_log().find("DataWriter.WriteBytes(0)\n"), std::string::npos);
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", content(kTwoLines)}},
                         "fail=BitmapDecoderStatics.CreateAsync:80070005")),
            "bad_image: cannot decode: " + platform_error_text(kDenied));
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", content(kTwoLines)}},
                         "async=later;fail=BitmapDecoderStatics.CreateAsync.result:80070005")),
            "bad_image: cannot decode: " + platform_error_text(kDenied));
  EXPECT_EQ(
      error_of(run(&ocr_image, json{{"content", content(kTwoLines)}}, "null=BitmapDecoderStatics.CreateAsync.result")),
      "bad_image: cannot decode: " + platform_error_text(0));
}

TEST(OcrStandin, SizeLimit) {
  auto image = [](const char* size) { return content(std::string("QVIMG ") + size + "\nT x\n"); };
  EXPECT_TRUE(run(&ocr_image, json{{"content", image("10000 10000")}}).ok());
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image("10001 1")}})),
            "image_too_large: 10001x1 exceeds the OCR engine limit of 10000 px per side; tile the image");
  EXPECT_EQ(standin_log().find("RecognizeAsync"), std::string::npos);
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image("1 10001")}})),
            "image_too_large: 1x10001 exceeds the OCR engine limit of 10000 px per side; tile the image");
  // The engine's own limit, and 10000 when the engine cannot tell.
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image("501 10")}}, "maxdim=500")),
            "image_too_large: 501x10 exceeds the OCR engine limit of 500 px per side; tile the image");
  EXPECT_EQ(error_of(run(&ocr_image, json{{"content", image("10001 10")}},
                         "maxdim=20000;fail=OcrEngineStatics.get_MaxImageDimension")),
            "image_too_large: 10001x10 exceeds the OCR engine limit of 10000 px per side; tile the image");
  EXPECT_TRUE(
      run(&ocr_image, json{{"content", image("10000 10")}}, "fail=OcrEngineStatics.get_MaxImageDimension").ok());
}

TEST(OcrStandin, ResultsAsTheEngineGivesThem) {
  HandlerResult empty = run(&ocr_image, json{{"content", content("QVIMG 5 5\n")}});
  ASSERT_TRUE(empty.ok()) << empty.error();
  EXPECT_EQ(empty.value().dump(), R"({"lines":[],"text":""})");

  // Unpaired surrogates become U+FFFD; non-finite boxes become null; null texts are empty.
  HandlerResult odd = run(&ocr_image,
                          json{{"content", content("QVIMG 9 9\n"
                                                   "L a\\ud800b\n"
                                                   "W nan inf -2.5 1e-3 \\udc00\n"
                                                   "T \\ud83d\\ude00\n")}},
                          "null=OcrLine.get_Text");
  ASSERT_TRUE(odd.ok()) << odd.error();
  EXPECT_EQ(odd.value().dump(), R"({"lines":[{"text":"","words":[{"rect":{"height":)" +
                                    json(static_cast<double>(1e-3f)).dump() +
                                    R"(,"width":-2.5,"x":null,"y":null},"text":")"
                                    "\xEF\xBF\xBD"
                                    R"("}]}],"text":")"
                                    "\xF0\x9F\x98\x80"
                                    R"("})");
}

// A list walk that breaks off is a failure of that list, not a shorter result.
TEST(OcrStandin, IteratorFailuresFailTheirList) {
  const StepFailure cases[] = {
      {"fail=LinesIterator.MoveNext@1:80070005", "lines", kDenied},
      {"fail=LinesIterator.get_HasCurrent@3:80070005", "lines", kDenied},
      {"null=LinesIterator.get_Current@2", "lines", 0},
      {"fail=WordsIterator.get_Current@2:80070005", "words", kDenied},
      {"async=later;fail=WordsIterator.get_HasCurrent@4:80070005", "words", kDenied},
  };
  for (const StepFailure& c : cases)
    EXPECT_EQ(error_of(run(&ocr_image, json{{"content", content(kTwoLines)}}, c.script)), failed(c.step, c.code))
        << c.script;
}

TEST(OcrStandin, PathImagesTakeTheSameRoute) {
  char dir[MAX_PATH];
  GetTempPathA(MAX_PATH, dir);
  std::string path = std::string(dir) + "quorvane_ocr_standin_image.txt";
  std::ofstream(path, std::ios::binary).write(kTwoLines.data(), static_cast<std::streamsize>(kTwoLines.size()));
  HandlerResult result = run(&ocr_image, json{{"content", nullptr}, {"path", path}});
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result.value(), two_lines_result());
  EXPECT_NE(standin_log().find("DataWriter.WriteBytes(" + std::to_string(kTwoLines.size()) + ")\n"), std::string::npos);
  DeleteFileA(path.c_str());
  EXPECT_EQ(error_of(run(&ocr_image, json{{"path", path}})),
            "read_failed: " + path + ": " + system_error_text(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(standin_log(), "");
}

TEST(OcrStandin, LanguageList) {
  HandlerResult listed = run(&ocr_language_list, json{{"ignored", 1}}, "languages=fr-FR,en-US,fr-FR");
  ASSERT_TRUE(listed.ok()) << listed.error();
  EXPECT_EQ(listed.value(), json({"fr-FR", "en-US", "fr-FR"}));

  HandlerResult none = run(&ocr_language_list, json(), "languages=");
  ASSERT_TRUE(none.ok()) << none.error();
  EXPECT_EQ(none.value(), json::array());

  EXPECT_EQ(
      error_of(run(&ocr_language_list, json(), "fail=OcrEngineStatics.get_AvailableRecognizerLanguages:80070005")),
      failed("languages", kDenied));
  EXPECT_EQ(error_of(run(&ocr_language_list, json(), "null=OcrEngineStatics.get_AvailableRecognizerLanguages")),
            failed("languages", 0));
  EXPECT_EQ(error_of(run(&ocr_language_list, json(), "fail=Languages.First:80070005")), failed("languages", kDenied));
  EXPECT_EQ(error_of(run(&ocr_language_list, json(), "fail=Language.get_LanguageTag@2:80070005")),
            failed("tag", kDenied));

  EXPECT_EQ(error_of(run(&ocr_language_list, json(), "fail=LanguagesIterator.get_HasCurrent@2:80070005")),
            failed("languages", kDenied));
  EXPECT_EQ(error_of(run(&ocr_language_list, json(), "null=LanguagesIterator.get_Current")), failed("languages", 0));
}

}  // namespace
}  // namespace quorvane::ocr
