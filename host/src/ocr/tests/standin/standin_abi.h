// The Windows Runtime interfaces the stand-in implements, transcribed from the published
// Windows SDK metadata (IDL and ABI headers) on their own, without the host's
// declarations: if either side gets a slot or an identifier wrong, the two disagree and
// the tests fail instead of agreeing on the same mistake.
#pragma once

#include <activation.h>
#include <asyncinfo.h>
#include <hstring.h>
#include <inspectable.h>
#include <windows.h>

namespace standin {

// {l-w1-w2-b0b1-b2..b7} as in the registry form of an IID.
constexpr GUID make_iid(unsigned long l, unsigned short w1, unsigned short w2, unsigned char b0, unsigned char b1,
                        unsigned char b2, unsigned char b3, unsigned char b4, unsigned char b5, unsigned char b6,
                        unsigned char b7) {
  return GUID{l, w1, w2, {b0, b1, b2, b3, b4, b5, b6, b7}};
}

// clang-format off
// Windows.Foundation
constexpr GUID IID_IUnknown_ = make_iid(0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
constexpr GUID IID_IInspectable_ = make_iid(0xAF86E2E0, 0xB12D, 0x4C6A, 0x9C, 0x5A, 0xD7, 0xAA, 0x65, 0x10, 0x1E, 0x90);
constexpr GUID IID_IActivationFactory_ = make_iid(0x00000035, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
constexpr GUID IID_IAsyncInfo_ = make_iid(0x00000036, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
constexpr GUID IID_IAgileObject_ = make_iid(0x94EA2B94, 0xE9CC, 0x49E0, 0xC0, 0xFF, 0xEE, 0x64, 0xCA, 0x8F, 0x5B, 0x90);
constexpr GUID IID_IClosable = make_iid(0x30D5A829, 0x7FA4, 0x4026, 0x83, 0xBB, 0xD7, 0x5B, 0xAE, 0x4E, 0xA9, 0x9E);
// Windows.Globalization
constexpr GUID IID_ILanguage = make_iid(0xEA79A752, 0xF7C2, 0x4265, 0xB1, 0xBD, 0xC4, 0xDE, 0xC4, 0xE4, 0xF0, 0x80);
constexpr GUID IID_ILanguageFactory = make_iid(0x9B0252AC, 0x0C27, 0x44F8, 0xB7, 0x92, 0x97, 0x93, 0xFB, 0x66, 0xC6, 0x3E);
// Windows.Media.Ocr
constexpr GUID IID_IOcrEngineStatics = make_iid(0x5BFFA85A, 0x3384, 0x3540, 0x99, 0x40, 0x69, 0x91, 0x20, 0xD4, 0x28, 0xA8);
constexpr GUID IID_IOcrEngine = make_iid(0x5A14BC41, 0x5B76, 0x3140, 0xB6, 0x80, 0x88, 0x25, 0x56, 0x26, 0x83, 0xAC);
constexpr GUID IID_IOcrResult = make_iid(0x9BD235B2, 0x175B, 0x3D6A, 0x92, 0xE2, 0x38, 0x8C, 0x20, 0x6E, 0x2F, 0x63);
constexpr GUID IID_IOcrLine = make_iid(0x0043A16F, 0xE31F, 0x3A24, 0x89, 0x9C, 0xD4, 0x44, 0xBD, 0x08, 0x81, 0x24);
constexpr GUID IID_IOcrWord = make_iid(0x3C2A477A, 0x5CD9, 0x3525, 0xBA, 0x2A, 0x23, 0xD1, 0xE0, 0xA6, 0x8A, 0x1D);
// Windows.Storage.Streams
constexpr GUID IID_IRandomAccessStream = make_iid(0x905A0FE1, 0xBC53, 0x11DF, 0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA);
constexpr GUID IID_IInputStream = make_iid(0x905A0FE2, 0xBC53, 0x11DF, 0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA);
constexpr GUID IID_IOutputStream = make_iid(0x905A0FE6, 0xBC53, 0x11DF, 0x8C, 0x49, 0x00, 0x1E, 0x4F, 0xC6, 0x86, 0xDA);
constexpr GUID IID_IDataWriter = make_iid(0x64B89265, 0xD341, 0x4922, 0xB3, 0x8A, 0xDD, 0x4A, 0xF8, 0x80, 0x8C, 0x4E);
constexpr GUID IID_IDataWriterFactory = make_iid(0x338C67C2, 0x8B84, 0x4C2B, 0x9C, 0x50, 0x7B, 0x87, 0x67, 0x84, 0x7A, 0x1F);
// Windows.Graphics.Imaging
constexpr GUID IID_IBitmapDecoderStatics = make_iid(0x438CCB26, 0xBCEF, 0x4E95, 0xBA, 0xD6, 0x23, 0xA8, 0x22, 0xE5, 0x8D, 0x01);
constexpr GUID IID_IBitmapDecoder = make_iid(0xACEF22BA, 0x1D74, 0x4C91, 0x9D, 0xFC, 0x96, 0x20, 0x74, 0x52, 0x33, 0xE6);
constexpr GUID IID_IBitmapFrame = make_iid(0x72A49A1C, 0x8081, 0x438D, 0x91, 0xBC, 0x94, 0xEC, 0xFC, 0x81, 0x85, 0xC6);
constexpr GUID IID_IBitmapFrameWithSoftwareBitmap = make_iid(0xFE287C9A, 0x420C, 0x4963, 0x87, 0xAD, 0x69, 0x14, 0x36, 0xE0, 0x83, 0x83);
constexpr GUID IID_ISoftwareBitmap = make_iid(0x689E0708, 0x7EEF, 0x483F, 0x96, 0x3F, 0xDA, 0x93, 0x88, 0x18, 0xE0, 0x73);

// Generic instances, as published in the SDK headers (windows.media.ocr.h,
// windows.graphics.imaging.h, windows.foundation.h).
constexpr GUID IID_IAsyncOperation_UInt32 = make_iid(0xEF60385F, 0xBE78, 0x584B, 0xAA, 0xEF, 0x78, 0x29, 0xAD, 0xA2, 0xB0, 0xDE);
constexpr GUID IID_AsyncOperationCompletedHandler_UInt32 = make_iid(0x9343B6E7, 0xE3D2, 0x5E4A, 0xAB, 0x2D, 0x2B, 0xCE, 0x49, 0x19, 0xA6, 0xA4);
constexpr GUID IID_IAsyncOperation_BitmapDecoder = make_iid(0xAA94D8E9, 0xCAEF, 0x53F6, 0x82, 0x3D, 0x91, 0xB6, 0xE8, 0x34, 0x05, 0x10);
constexpr GUID IID_AsyncOperationCompletedHandler_BitmapDecoder = make_iid(0xBB6514F2, 0x3CFB, 0x566F, 0x82, 0xBC, 0x60, 0xAA, 0xBD, 0x30, 0x2D, 0x53);
constexpr GUID IID_IAsyncOperation_SoftwareBitmap = make_iid(0xC4A10980, 0x714B, 0x5501, 0x8D, 0xA2, 0xDB, 0xDA, 0xCC, 0xE7, 0x0F, 0x73);
constexpr GUID IID_AsyncOperationCompletedHandler_SoftwareBitmap = make_iid(0xB699B653, 0x33ED, 0x5E2D, 0xA7, 0x5F, 0x02, 0xBF, 0x90, 0xE3, 0x26, 0x19);
constexpr GUID IID_IAsyncOperation_OcrResult = make_iid(0xC7D7118E, 0xAE36, 0x59C0, 0xAC, 0x76, 0x7B, 0xAD, 0xEE, 0x71, 0x1C, 0x8B);
constexpr GUID IID_AsyncOperationCompletedHandler_OcrResult = make_iid(0x989C1371, 0x444A, 0x5E7E, 0xB1, 0x97, 0x9E, 0xAA, 0xF9, 0xD2, 0x82, 0x9A);
constexpr GUID IID_IVectorView_Language = make_iid(0x144B0F3D, 0x2D59, 0x5DD2, 0xB0, 0x12, 0x90, 0x8E, 0xC3, 0xE0, 0x64, 0x35);
constexpr GUID IID_IIterable_Language = make_iid(0x48409A10, 0x61B6, 0x5DB1, 0xA6, 0x9D, 0x8A, 0xBC, 0x46, 0xAC, 0x60, 0x8A);
constexpr GUID IID_IIterator_Language = make_iid(0x30E99AE6, 0xF414, 0x5243, 0x8D, 0xB2, 0xAA, 0xB3, 0x8E, 0xA3, 0xF1, 0xF1);
constexpr GUID IID_IVectorView_OcrLine = make_iid(0x60C76EAC, 0x8875, 0x5DDB, 0xA1, 0x9B, 0x65, 0xA3, 0x93, 0x62, 0x79, 0xEA);
constexpr GUID IID_IIterable_OcrLine = make_iid(0x6AFA94A2, 0x60D7, 0x5DBE, 0x94, 0x2D, 0x81, 0xAA, 0x39, 0x29, 0xC8, 0x5E);
constexpr GUID IID_IIterator_OcrLine = make_iid(0x52CA0F8A, 0x5788, 0x5695, 0xB9, 0x05, 0x46, 0xB8, 0xD8, 0x17, 0x1D, 0x88);
constexpr GUID IID_IVectorView_OcrWord = make_iid(0x805A60C7, 0xDF4F, 0x527C, 0x86, 0xB2, 0xE2, 0x9E, 0x43, 0x9A, 0x83, 0xD2);
constexpr GUID IID_IIterable_OcrWord = make_iid(0xA0CE663A, 0x46D0, 0x55E5, 0x92, 0x8E, 0x25, 0x1E, 0xB6, 0x7A, 0x1E, 0x99);
constexpr GUID IID_IIterator_OcrWord = make_iid(0x0ED4317A, 0x9964, 0x51C6, 0xAC, 0xBE, 0x02, 0x51, 0x2A, 0x06, 0x90, 0x82);

#define SI_METHOD(name, ...) virtual HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) = 0

struct ILanguage;
struct IOcrEngine;
struct IOcrResult;
struct IOcrLine;
struct IOcrWord;
struct ISoftwareBitmap;
struct IBitmapDecoder;
struct IOutputStream;

// Windows.Foundation.Rect
struct Rect {
  FLOAT X, Y, Width, Height;
};

struct IClosable : IInspectable {
  SI_METHOD(Close);  // 6
};

// ---- generic instances ----
#define SI_ASYNC_OPERATION(Name, HandlerName, ResultAbi)                      \
  struct Name;                                                                \
  struct HandlerName : IUnknown {                                             \
    SI_METHOD(Invoke, Name* asyncInfo, AsyncStatus asyncStatus); /* 3 */      \
  };                                                                          \
  struct Name : IInspectable {                                                \
    SI_METHOD(put_Completed, HandlerName* handler);  /* 6 */                  \
    SI_METHOD(get_Completed, HandlerName** handler); /* 7 */                  \
    SI_METHOD(GetResults, ResultAbi* results);       /* 8 */                  \
  };

#define SI_COLLECTION(ViewName, IterableName, IteratorName, ItemAbi)                          \
  struct IteratorName : IInspectable {                                                        \
    SI_METHOD(get_Current, ItemAbi* current);                            /* 6 */             \
    SI_METHOD(get_HasCurrent, boolean* hasCurrent);                      /* 7 */             \
    SI_METHOD(MoveNext, boolean* hasCurrent);                            /* 8 */             \
    SI_METHOD(GetMany, UINT32 capacity, ItemAbi* items, UINT32* actual); /* 9 */             \
  };                                                                                          \
  struct IterableName : IInspectable {                                                        \
    SI_METHOD(First, IteratorName** first); /* 6 */                                           \
  };                                                                                          \
  struct ViewName : IInspectable {                                                            \
    SI_METHOD(GetAt, UINT32 index, ItemAbi* item);                                  /* 6 */  \
    SI_METHOD(get_Size, UINT32* size);                                              /* 7 */  \
    SI_METHOD(IndexOf, ItemAbi value, UINT32* index, boolean* found);               /* 8 */  \
    SI_METHOD(GetMany, UINT32 startIndex, UINT32 capacity, ItemAbi* items, UINT32* actual); /* 9 */ \
  };

SI_ASYNC_OPERATION(IAsyncOperation_UInt32, AsyncOperationCompletedHandler_UInt32, UINT32)
SI_ASYNC_OPERATION(IAsyncOperation_BitmapDecoder, AsyncOperationCompletedHandler_BitmapDecoder, IBitmapDecoder*)
SI_ASYNC_OPERATION(IAsyncOperation_SoftwareBitmap, AsyncOperationCompletedHandler_SoftwareBitmap, ISoftwareBitmap*)
SI_ASYNC_OPERATION(IAsyncOperation_OcrResult, AsyncOperationCompletedHandler_OcrResult, IOcrResult*)
SI_COLLECTION(IVectorView_Language, IIterable_Language, IIterator_Language, ILanguage*)
SI_COLLECTION(IVectorView_OcrLine, IIterable_OcrLine, IIterator_OcrLine, IOcrLine*)
SI_COLLECTION(IVectorView_OcrWord, IIterable_OcrWord, IIterator_OcrWord, IOcrWord*)

// ---- Windows.Globalization ----
struct ILanguage : IInspectable {
  SI_METHOD(get_LanguageTag, HSTRING* value);  // 6
  SI_METHOD(get_DisplayName, HSTRING* value);  // 7
  SI_METHOD(get_NativeName, HSTRING* value);   // 8
  SI_METHOD(get_Script, HSTRING* value);       // 9
};
struct ILanguageFactory : IInspectable {
  SI_METHOD(CreateLanguage, HSTRING languageTag, ILanguage** result);  // 6
};

// ---- Windows.Storage.Streams ----
struct IInputStream : IInspectable {
  SI_METHOD(ReadAsync, IInspectable* buffer, UINT32 count, INT32 options, IInspectable** operation);  // 6
};
struct IOutputStream : IInspectable {
  SI_METHOD(WriteAsync, IInspectable* buffer, IInspectable** operation);  // 6
  SI_METHOD(FlushAsync, IInspectable** operation);                        // 7
};
struct IRandomAccessStream : IInspectable {
  SI_METHOD(get_Size, UINT64* value);                                 // 6
  SI_METHOD(put_Size, UINT64 value);                                  // 7
  SI_METHOD(GetInputStreamAt, UINT64 position, IInputStream** stream);    // 8
  SI_METHOD(GetOutputStreamAt, UINT64 position, IOutputStream** stream);  // 9
  SI_METHOD(get_Position, UINT64* value);                             // 10
  SI_METHOD(Seek, UINT64 position);                                   // 11
  SI_METHOD(CloneStream, IRandomAccessStream** stream);               // 12
  SI_METHOD(get_CanRead, boolean* value);                             // 13
  SI_METHOD(get_CanWrite, boolean* value);                            // 14
};
struct IDataWriter : IInspectable {
  SI_METHOD(get_UnstoredBufferLength, UINT32* value);                          // 6
  SI_METHOD(get_UnicodeEncoding, INT32* value);                                // 7
  SI_METHOD(put_UnicodeEncoding, INT32 value);                                 // 8
  SI_METHOD(get_ByteOrder, INT32* value);                                      // 9
  SI_METHOD(put_ByteOrder, INT32 value);                                       // 10
  SI_METHOD(WriteByte, BYTE value);                                            // 11
  SI_METHOD(WriteBytes, UINT32 valueSize, BYTE* value);                        // 12
  SI_METHOD(WriteBuffer, IInspectable* buffer);                                // 13
  SI_METHOD(WriteBufferRange, IInspectable* buffer, UINT32 start, UINT32 count);  // 14
  SI_METHOD(WriteBoolean, boolean value);                                      // 15
  SI_METHOD(WriteGuid, GUID value);                                            // 16
  SI_METHOD(WriteInt16, INT16 value);                                          // 17
  SI_METHOD(WriteInt32, INT32 value);                                          // 18
  SI_METHOD(WriteInt64, INT64 value);                                          // 19
  SI_METHOD(WriteUInt16, UINT16 value);                                        // 20
  SI_METHOD(WriteUInt32, UINT32 value);                                        // 21
  SI_METHOD(WriteUInt64, UINT64 value);                                        // 22
  SI_METHOD(WriteSingle, FLOAT value);                                         // 23
  SI_METHOD(WriteDouble, DOUBLE value);                                        // 24
  SI_METHOD(WriteDateTime, INT64 value);                                       // 25
  SI_METHOD(WriteTimeSpan, INT64 value);                                       // 26
  SI_METHOD(WriteString, HSTRING value, UINT32* codeUnitCount);                // 27
  SI_METHOD(MeasureString, HSTRING value, UINT32* codeUnitCount);              // 28
  SI_METHOD(StoreAsync, IAsyncOperation_UInt32** operation);                   // 29
  SI_METHOD(FlushAsync, IInspectable** operation);                             // 30
  SI_METHOD(DetachBuffer, IInspectable** buffer);                              // 31
  SI_METHOD(DetachStream, IOutputStream** outputStream);                       // 32
};
struct IDataWriterFactory : IInspectable {
  SI_METHOD(CreateDataWriter, IOutputStream* outputStream, IDataWriter** dataWriter);  // 6
};

// ---- Windows.Graphics.Imaging ----
struct ISoftwareBitmap : IInspectable {
  SI_METHOD(get_BitmapPixelFormat, INT32* value);          // 6
  SI_METHOD(get_BitmapAlphaMode, INT32* value);            // 7
  SI_METHOD(get_PixelWidth, INT32* value);                 // 8
  SI_METHOD(get_PixelHeight, INT32* value);                // 9
  SI_METHOD(get_IsReadOnly, boolean* value);               // 10
  SI_METHOD(put_DpiX, DOUBLE value);                       // 11
  SI_METHOD(get_DpiX, DOUBLE* value);                      // 12
  SI_METHOD(put_DpiY, DOUBLE value);                       // 13
  SI_METHOD(get_DpiY, DOUBLE* value);                      // 14
  SI_METHOD(LockBuffer, INT32 mode, IInspectable** value); // 15
  SI_METHOD(CopyTo, ISoftwareBitmap* bitmap);              // 16
  SI_METHOD(CopyFromBuffer, IInspectable* buffer);         // 17
  SI_METHOD(CopyToBuffer, IInspectable* buffer);           // 18
  SI_METHOD(GetReadOnlyView, ISoftwareBitmap** value);     // 19
};
struct IBitmapFrame : IInspectable {
  SI_METHOD(GetThumbnailAsync, IInspectable** asyncInfo);  // 6
  SI_METHOD(get_BitmapProperties, IInspectable** value);   // 7
  SI_METHOD(get_BitmapPixelFormat, INT32* value);          // 8
  SI_METHOD(get_BitmapAlphaMode, INT32* value);            // 9
  SI_METHOD(get_DpiX, DOUBLE* value);                      // 10
  SI_METHOD(get_DpiY, DOUBLE* value);                      // 11
  SI_METHOD(get_PixelWidth, UINT32* value);                // 12
  SI_METHOD(get_PixelHeight, UINT32* value);               // 13
  SI_METHOD(get_OrientedPixelWidth, UINT32* value);        // 14
  SI_METHOD(get_OrientedPixelHeight, UINT32* value);       // 15
  SI_METHOD(GetPixelDataAsync, IInspectable** asyncInfo);  // 16
  SI_METHOD(GetPixelDataTransformedAsync, INT32 pixelFormat, INT32 alphaMode, IInspectable* transform,
            INT32 exifOrientationMode, INT32 colorManagementMode, IInspectable** asyncInfo);  // 17
};
struct IBitmapFrameWithSoftwareBitmap : IInspectable {
  SI_METHOD(GetSoftwareBitmapAsync, IAsyncOperation_SoftwareBitmap** value);  // 6
  SI_METHOD(GetSoftwareBitmapConvertedAsync, INT32 pixelFormat, INT32 alphaMode,
            IAsyncOperation_SoftwareBitmap** value);  // 7
  SI_METHOD(GetSoftwareBitmapTransformedAsync, INT32 pixelFormat, INT32 alphaMode, IInspectable* transform,
            INT32 exifOrientationMode, INT32 colorManagementMode, IAsyncOperation_SoftwareBitmap** value);  // 8
};
struct IBitmapDecoder : IInspectable {
  SI_METHOD(get_BitmapContainerProperties, IInspectable** value);  // 6
  SI_METHOD(get_DecoderInformation, IInspectable** value);         // 7
  SI_METHOD(get_FrameCount, UINT32* value);                        // 8
  SI_METHOD(GetPreviewAsync, IInspectable** asyncInfo);            // 9
  SI_METHOD(GetFrameAsync, UINT32 frameIndex, IInspectable** asyncInfo);  // 10
};
struct IBitmapDecoderStatics : IInspectable {
  SI_METHOD(get_BmpDecoderId, GUID* value);     // 6
  SI_METHOD(get_JpegDecoderId, GUID* value);    // 7
  SI_METHOD(get_PngDecoderId, GUID* value);     // 8
  SI_METHOD(get_TiffDecoderId, GUID* value);    // 9
  SI_METHOD(get_GifDecoderId, GUID* value);     // 10
  SI_METHOD(get_JpegXRDecoderId, GUID* value);  // 11
  SI_METHOD(get_IcoDecoderId, GUID* value);     // 12
  SI_METHOD(GetDecoderInformationEnumerator, IInspectable** decoderInformationEnumerator);  // 13
  SI_METHOD(CreateAsync, IRandomAccessStream* stream, IAsyncOperation_BitmapDecoder** asyncInfo);  // 14
  SI_METHOD(CreateWithIdAsync, GUID decoderId, IRandomAccessStream* stream,
            IAsyncOperation_BitmapDecoder** asyncInfo);  // 15
};

// ---- Windows.Media.Ocr ----
struct IOcrWord : IInspectable {
  SI_METHOD(get_BoundingRect, Rect* value);  // 6
  SI_METHOD(get_Text, HSTRING* value);       // 7
};
struct IOcrLine : IInspectable {
  SI_METHOD(get_Words, IVectorView_OcrWord** value);  // 6
  SI_METHOD(get_Text, HSTRING* value);                // 7
};
struct IOcrResult : IInspectable {
  SI_METHOD(get_Lines, IVectorView_OcrLine** value);   // 6
  SI_METHOD(get_TextAngle, IInspectable** value);      // 7
  SI_METHOD(get_Text, HSTRING* value);                 // 8
};
struct IOcrEngine : IInspectable {
  SI_METHOD(RecognizeAsync, ISoftwareBitmap* bitmap, IAsyncOperation_OcrResult** result);  // 6
  SI_METHOD(get_RecognizerLanguage, ILanguage** value);                                    // 7
};
struct IOcrEngineStatics : IInspectable {
  SI_METHOD(get_MaxImageDimension, UINT32* value);                            // 6
  SI_METHOD(get_AvailableRecognizerLanguages, IVectorView_Language** value);  // 7
  SI_METHOD(IsLanguageSupported, ILanguage* language, boolean* result);       // 8
  SI_METHOD(TryCreateFromLanguage, ILanguage* language, IOcrEngine** result); // 9
  SI_METHOD(TryCreateFromUserProfileLanguages, IOcrEngine** result);          // 10
};

#undef SI_METHOD
#undef SI_ASYNC_OPERATION
#undef SI_COLLECTION
// clang-format on

}  // namespace standin
