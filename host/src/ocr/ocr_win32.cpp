#include "ocr/ocr.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/error_text.h"
#include "ocr/image_file_win32.h"
#include "ocr/ocr_core.h"
#include "ocr/winrt_runtime_win32.h"

namespace quorvane::ocr {

namespace {

using namespace rt;

std::string step_failure(std::string_view step, HRESULT hr) { return ocr_failed_message(step, failure_text(hr)); }
std::string step_null(std::string_view step) { return ocr_failed_message(step, null_object_text()); }

HandlerResult failed(std::string_view step, HRESULT hr) { return fail(step_failure(step, hr)); }
HandlerResult failed_null(std::string_view step) { return fail(step_null(step)); }
HandlerResult language_unavailable() {
  // Whatever the engine class said is not part of this answer; keep it off the thread.
  discard_error_description();
  return fail(std::string(kOcrLanguageUnavailableMessage));
}
HandlerResult cannot_decode(HRESULT hr) { return fail(ocr_cannot_decode_message(failure_text(hr))); }
HandlerResult cannot_decode_null() { return fail(ocr_cannot_decode_message(null_object_text())); }

// What the writer step reports for an image it cannot take: its byte count is 32-bit.
constexpr HRESULT kImageTooLongForWriter = static_cast<HRESULT>(0x80070216);  // ERROR_ARITHMETIC_OVERFLOW

// The words of one line, in the engine's order.
Result<void> read_words(IOcrLine* line, json& words) {
  com_ptr<IVectorView_OcrWord> list;
  HRESULT hr = line->get_Words(list.put());
  if (FAILED(hr)) return fail(step_failure("words", hr));
  if (!list) return fail(step_null("words"));
  return walk_list(list.get(), "words", [&](IOcrWord* word) -> Result<void> {
    Rect rect{};
    HRESULT hr = word->get_BoundingRect(&rect);
    if (FAILED(hr)) return fail(step_failure("rect", hr));
    unique_hstring text;
    hr = word->get_Text(text.put());
    if (FAILED(hr)) return fail(step_failure("word text", hr));
    words.push_back(ocr_word_json(OcrBox{rect.X, rect.Y, rect.Width, rect.Height}, to_utf8(text.get())));
    return {};
  });
}

// The whole result object; any failed read aborts it, so no partial result escapes.
HandlerResult read_result(IOcrResult* result) {
  com_ptr<IVectorView_OcrLine> list;
  HRESULT hr = result->get_Lines(list.put());
  if (FAILED(hr)) return failed("lines", hr);
  if (!list) return failed_null("lines");
  json lines = json::array();
  Result<void> walked = walk_list(list.get(), "lines", [&](IOcrLine* line) -> Result<void> {
    json words = json::array();
    if (Result<void> read = read_words(line, words); !read.ok()) return read;
    unique_hstring text;
    HRESULT hr = line->get_Text(text.put());
    if (FAILED(hr)) return fail(step_failure("line text", hr));
    lines.push_back(ocr_line_json(to_utf8(text.get()), std::move(words)));
    return {};
  });
  if (!walked.ok()) return std::move(walked).failure();
  unique_hstring text;
  hr = result->get_Text(text.put());
  if (FAILED(hr)) return failed("text", hr);
  return ocr_result_json(std::move(lines), to_utf8(text.get()));
}

}  // namespace

HandlerResult ocr_image(std::string_view, const json& params) {
  std::optional<OcrImageRequest> request = read_ocr_image_request(params);
  if (!request) return fail(std::string(kOcrNoImageMessage));

  std::vector<std::uint8_t> image;
  if (request->content) {
    if (Result<void> decoded = decode_ocr_content(*request->content, image); !decoded.ok())
      return std::move(decoded).failure();
  } else if (Result<void> read = read_image_file(*request->path, image); !read.ok()) {
    return fail(ocr_read_failed_message(*request->path, read.error()));
  }

  // The engine. A requested language never falls back to the profile languages.
  com_ptr<IOcrEngineStatics> engines;
  com_ptr<IOcrEngine> engine;
  if (request->language) {
    com_ptr<ILanguage> language;
    {
      com_ptr<ILanguageFactory> languages;
      HRESULT hr = get_factory(languages);
      if (FAILED(hr)) return failed("language", hr);
      if (!languages) return failed_null("language");
      unique_hstring tag;
      hr = create_hstring(*request->language, tag);
      if (FAILED(hr)) return failed("language", hr);
      hr = languages->CreateLanguage(tag.get(), language.put());
      if (FAILED(hr)) return failed("language", hr);
      if (!language) return failed_null("language");
    }
    if (FAILED(get_factory(engines)) || !engines) return language_unavailable();
    if (FAILED(engines->TryCreateFromLanguage(language.get(), engine.put())) || !engine) return language_unavailable();
  } else {
    if (FAILED(get_factory(engines)) || !engines) return language_unavailable();
    if (FAILED(engines->TryCreateFromUserProfileLanguages(engine.put())) || !engine) return language_unavailable();
  }

  // The bytes go through an in-memory stream because the decoder reads only streams.
  com_ptr<::IActivationFactory> streams;
  HRESULT hr = get_factory(streams);
  if (FAILED(hr)) return failed("stream", hr);
  if (!streams) return failed_null("stream");
  com_ptr<::IInspectable> stream_object;
  hr = streams->ActivateInstance(stream_object.put());
  if (FAILED(hr)) return failed("stream", hr);
  if (!stream_object) return failed_null("stream");
  com_ptr<IRandomAccessStream> stream;
  hr = stream_object.query(stream);
  if (FAILED(hr)) return failed("stream", hr);

  com_ptr<IDataWriterFactory> writers;
  hr = get_factory(writers);
  if (FAILED(hr)) return failed("writer", hr);
  if (!writers) return failed_null("writer");
  // The writer wants the stream's IOutputStream, not its default interface.
  com_ptr<IOutputStream> output;
  hr = stream.query(output);
  if (FAILED(hr)) return failed("writer", hr);
  com_ptr<IDataWriter> writer;
  hr = writers->CreateDataWriter(output.get(), writer.put());
  if (FAILED(hr)) return failed("writer", hr);
  if (!writer) return failed_null("writer");
  output.reset();

  if (!fits_runtime_writer(image.size()))
    return fail(ocr_failed_message("write", platform_error_text(static_cast<std::uint32_t>(kImageTooLongForWriter))));
  BYTE empty = 0;  // an empty image still passes a valid pointer
  hr = writer->WriteBytes(static_cast<UINT32>(image.size()), image.empty() ? &empty : image.data());
  if (FAILED(hr)) return failed("write", hr);

  com_ptr<IAsyncOperation_UInt32> storing;
  hr = writer->StoreAsync(storing.put());
  if (FAILED(hr)) return failed("store", hr);
  if (!storing) return failed_null("store");
  UINT32 stored = 0;
  hr = await_results(storing.get(), &stored);
  if (FAILED(hr)) return failed("store", hr);
  storing.reset();

  // Detached, the stream outlives the writer instead of being closed with it.
  com_ptr<IOutputStream> detached;
  hr = writer->DetachStream(detached.put());
  if (FAILED(hr)) return failed("detach", hr);
  detached.reset();
  writer.reset();

  hr = stream->Seek(0);
  if (FAILED(hr)) return failed("seek", hr);

  // Decoding: the decoder picks the format from the bytes; its first frame is the image.
  com_ptr<IBitmapDecoderStatics> decoders;
  hr = get_factory(decoders);
  if (FAILED(hr)) return cannot_decode(hr);
  if (!decoders) return cannot_decode_null();
  com_ptr<IAsyncOperation_BitmapDecoder> decoding;
  hr = decoders->CreateAsync(stream.get(), decoding.put());
  if (FAILED(hr)) return cannot_decode(hr);
  if (!decoding) return cannot_decode_null();
  com_ptr<IBitmapDecoder> decoder;
  hr = await_results(decoding.get(), decoder.put());
  if (FAILED(hr)) return cannot_decode(hr);
  if (!decoder) return cannot_decode_null();
  decoding.reset();

  com_ptr<IBitmapFrameWithSoftwareBitmap> frame;
  hr = decoder.query(frame);
  if (FAILED(hr)) return failed("bitmap", hr);
  com_ptr<IAsyncOperation_SoftwareBitmap> converting;
  hr = frame->GetSoftwareBitmapAsync(converting.put());
  if (FAILED(hr)) return failed("bitmap", hr);
  if (!converting) return failed_null("bitmap");
  com_ptr<ISoftwareBitmap> bitmap;
  hr = await_results(converting.get(), bitmap.put());
  if (FAILED(hr)) return failed("bitmap", hr);
  if (!bitmap) return failed_null("bitmap");
  converting.reset();

  // The host checks the engine's limit itself and never scales or tiles.
  UINT32 limit = kDefaultMaxImageDimension;
  if (FAILED(engines->get_MaxImageDimension(&limit))) {
    limit = kDefaultMaxImageDimension;
    discard_error_description();
  }
  INT32 width = 0;
  INT32 height = 0;
  hr = bitmap->get_PixelWidth(&width);
  if (FAILED(hr)) return failed("size", hr);
  hr = bitmap->get_PixelHeight(&height);
  if (FAILED(hr)) return failed("size", hr);
  auto width_px = static_cast<std::uint32_t>(width);
  auto height_px = static_cast<std::uint32_t>(height);
  if (exceeds_ocr_limit(width_px, height_px, limit))
    return fail(ocr_image_too_large_message(width_px, height_px, limit));

  com_ptr<IAsyncOperation_OcrResult> recognizing;
  hr = engine->RecognizeAsync(bitmap.get(), recognizing.put());
  if (FAILED(hr)) return failed("recognize", hr);
  if (!recognizing) return failed_null("recognize");
  com_ptr<IOcrResult> result;
  hr = await_results(recognizing.get(), result.put());
  if (FAILED(hr)) return failed("recognize", hr);
  if (!result) return failed_null("recognize");
  recognizing.reset();

  return read_result(result.get());
}

HandlerResult ocr_language_list(std::string_view, const json&) {
  com_ptr<IOcrEngineStatics> engines;
  HRESULT hr = get_factory(engines);
  if (FAILED(hr)) return failed("languages", hr);
  if (!engines) return failed_null("languages");
  com_ptr<IVectorView_Language> list;
  hr = engines->get_AvailableRecognizerLanguages(list.put());
  if (FAILED(hr)) return failed("languages", hr);
  if (!list) return failed_null("languages");
  json tags = json::array();
  Result<void> walked = walk_list(list.get(), "languages", [&](ILanguage* language) -> Result<void> {
    unique_hstring tag;
    HRESULT hr = language->get_LanguageTag(tag.put());
    if (FAILED(hr)) return fail(step_failure("tag", hr));
    tags.push_back(to_utf8(tag.get()));
    return {};
  });
  if (!walked.ok()) return std::move(walked).failure();
  return tags;
}

}  // namespace quorvane::ocr
