// The slice of the Windows Runtime ABI that text recognition uses, declared by hand:
// mingw-w64 ships no headers for Windows.Media.Ocr, Windows.Graphics.Imaging or
// Windows.Globalization, and its generic collection templates disagree with the real ABI
// (4-byte booleans in IIterator, an extra pointer level in IAsyncOperation::GetResults).
//
// Layout rules every declaration here follows (Windows SDK metadata, ABI projection):
// - every interface derives from IInspectable, so its own methods start at vtable slot 6;
//   delegates and IRestrictedErrorInfo derive from IUnknown only (slot 3);
// - an interface that "requires" another does not contain its methods; reach the other
//   one with QueryInterface;
// - no virtual destructors and no overloaded names, so g++ lays the vtables out in
//   declaration order;
// - a runtime-class parameter travels as its default interface.
// The interface identifiers are those of the published Windows SDK metadata; the
// identifiers of generic instances are derived from their type signatures, as
// Windows.Foundation's parameterized-interface rule prescribes.
#pragma once

#include <asyncinfo.h>
#include <hstring.h>
#include <inspectable.h>
#include <windows.h>

namespace quorvane::ocr::rt {

// Windows.Foundation.Rect
struct Rect {
  FLOAT X;
  FLOAT Y;
  FLOAT Width;
  FLOAT Height;
};

// Interfaces this program never calls into, kept only so that later slots line up.
using IUnused = ::IInspectable;

// ---- generic interfaces: one instance per argument type ----------------------------------

template <class TAbi>
struct IAsyncOperation;

// Windows.Foundation.AsyncOperationCompletedHandler`1 (a delegate: IUnknown based)
template <class TAbi>
struct AsyncOperationCompletedHandler : ::IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(IAsyncOperation<TAbi>* asyncInfo, AsyncStatus status) = 0;
};

// Windows.Foundation.IAsyncOperation`1
template <class TAbi>
struct IAsyncOperation : ::IInspectable {
  using Result = TAbi;
  using Handler = AsyncOperationCompletedHandler<TAbi>;
  virtual HRESULT STDMETHODCALLTYPE put_Completed(AsyncOperationCompletedHandler<TAbi>* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Completed(AsyncOperationCompletedHandler<TAbi>** handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetResults(TAbi* results) = 0;
};

// Windows.Foundation.Collections.IIterator`1
template <class TAbi>
struct IIterator : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Current(TAbi* current) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_HasCurrent(boolean* hasCurrent) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveNext(boolean* hasCurrent) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 capacity, TAbi* items, UINT32* actual) = 0;
};

// Windows.Foundation.Collections.IIterable`1
template <class TAbi>
struct IIterable : ::IInspectable {
  using Iterator = IIterator<TAbi>;
  virtual HRESULT STDMETHODCALLTYPE First(IIterator<TAbi>** first) = 0;
};

// Windows.Foundation.Collections.IVectorView`1
template <class TAbi>
struct IVectorView : ::IInspectable {
  using Item = TAbi;
  using Iterable = IIterable<TAbi>;
  virtual HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, TAbi* item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Size(UINT32* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE IndexOf(TAbi value, UINT32* index, boolean* found) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 startIndex, UINT32 capacity, TAbi* items, UINT32* actual) = 0;
};

// ---- Windows.Foundation ------------------------------------------------------------------

struct IClosable : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
};

// ---- Windows.Globalization ---------------------------------------------------------------

struct ILanguage : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_LanguageTag(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_NativeName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Script(HSTRING* value) = 0;
};

struct ILanguageFactory : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateLanguage(HSTRING languageTag, ILanguage** result) = 0;
};

// ---- Windows.Storage.Streams -------------------------------------------------------------

struct IOutputStream : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE WriteAsync(IUnused* buffer, IUnused** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE FlushAsync(IUnused** operation) = 0;
};

struct IRandomAccessStream : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Size(UINT64* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Size(UINT64 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputStreamAt(UINT64 position, IUnused** stream) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOutputStreamAt(UINT64 position, IOutputStream** stream) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Position(UINT64* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Seek(UINT64 position) = 0;
  virtual HRESULT STDMETHODCALLTYPE CloneStream(IRandomAccessStream** stream) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CanRead(boolean* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_CanWrite(boolean* value) = 0;
};

using IAsyncOperation_UInt32 = IAsyncOperation<UINT32>;

struct IDataWriter : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_UnstoredBufferLength(UINT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UnicodeEncoding(INT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UnicodeEncoding(INT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_ByteOrder(INT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_ByteOrder(INT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteByte(BYTE value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteBytes(UINT32 valueSize, BYTE* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteBuffer(IUnused* buffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteBufferRange(IUnused* buffer, UINT32 start, UINT32 count) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteBoolean(boolean value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteGuid(GUID value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteInt16(INT16 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteInt32(INT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteInt64(INT64 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteUInt16(UINT16 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteUInt32(UINT32 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteUInt64(UINT64 value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteSingle(FLOAT value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteDouble(DOUBLE value) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteDateTime(INT64 value) = 0;  // Windows.Foundation.DateTime
  virtual HRESULT STDMETHODCALLTYPE WriteTimeSpan(INT64 value) = 0;  // Windows.Foundation.TimeSpan
  virtual HRESULT STDMETHODCALLTYPE WriteString(HSTRING value, UINT32* codeUnitCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE MeasureString(HSTRING value, UINT32* codeUnitCount) = 0;
  virtual HRESULT STDMETHODCALLTYPE StoreAsync(IAsyncOperation_UInt32** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE FlushAsync(IUnused** operation) = 0;
  virtual HRESULT STDMETHODCALLTYPE DetachBuffer(IUnused** buffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE DetachStream(IOutputStream** outputStream) = 0;
};

struct IDataWriterFactory : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreateDataWriter(IOutputStream* outputStream, IDataWriter** dataWriter) = 0;
};

// ---- Windows.Graphics.Imaging ------------------------------------------------------------

struct ISoftwareBitmap : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_BitmapPixelFormat(INT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BitmapAlphaMode(INT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PixelWidth(INT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PixelHeight(INT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(boolean* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_DpiX(DOUBLE value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DpiX(DOUBLE* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_DpiY(DOUBLE value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DpiY(DOUBLE* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockBuffer(INT32 mode, IUnused** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE CopyTo(ISoftwareBitmap* bitmap) = 0;
  virtual HRESULT STDMETHODCALLTYPE CopyFromBuffer(IUnused* buffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE CopyToBuffer(IUnused* buffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetReadOnlyView(ISoftwareBitmap** value) = 0;
};

using IAsyncOperation_SoftwareBitmap = IAsyncOperation<ISoftwareBitmap*>;

// Implemented by a BitmapDecoder for its first frame (Windows 10 and later).
struct IBitmapFrameWithSoftwareBitmap : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetSoftwareBitmapAsync(IAsyncOperation_SoftwareBitmap** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSoftwareBitmapConvertedAsync(INT32 pixelFormat, INT32 alphaMode,
                                                                    IAsyncOperation_SoftwareBitmap** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSoftwareBitmapTransformedAsync(INT32 pixelFormat, INT32 alphaMode,
                                                                      IUnused* transform, INT32 exifOrientationMode,
                                                                      INT32 colorManagementMode,
                                                                      IAsyncOperation_SoftwareBitmap** value) = 0;
};

struct IBitmapDecoder : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_BitmapContainerProperties(IUnused** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_DecoderInformation(IUnused** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_FrameCount(UINT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPreviewAsync(IUnused** asyncInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFrameAsync(UINT32 frameIndex, IUnused** asyncInfo) = 0;
};

using IAsyncOperation_BitmapDecoder = IAsyncOperation<IBitmapDecoder*>;

struct IBitmapDecoderStatics : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_BmpDecoderId(GUID* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_JpegDecoderId(GUID* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_PngDecoderId(GUID* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TiffDecoderId(GUID* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_GifDecoderId(GUID* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_JpegXRDecoderId(GUID* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_IcoDecoderId(GUID* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDecoderInformationEnumerator(IUnused** decoderInformationEnumerator) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateAsync(IRandomAccessStream* stream,
                                                IAsyncOperation_BitmapDecoder** asyncInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateWithIdAsync(GUID decoderId, IRandomAccessStream* stream,
                                                      IAsyncOperation_BitmapDecoder** asyncInfo) = 0;
};

// ---- Windows.Media.Ocr -------------------------------------------------------------------

struct IOcrWord : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_BoundingRect(Rect* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Text(HSTRING* value) = 0;
};

using IVectorView_OcrWord = IVectorView<IOcrWord*>;

struct IOcrLine : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Words(IVectorView_OcrWord** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Text(HSTRING* value) = 0;
};

using IVectorView_OcrLine = IVectorView<IOcrLine*>;

struct IOcrResult : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Lines(IVectorView_OcrLine** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_TextAngle(IUnused** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Text(HSTRING* value) = 0;
};

using IAsyncOperation_OcrResult = IAsyncOperation<IOcrResult*>;

struct IOcrEngine : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE RecognizeAsync(ISoftwareBitmap* bitmap, IAsyncOperation_OcrResult** result) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_RecognizerLanguage(ILanguage** value) = 0;
};

using IVectorView_Language = IVectorView<ILanguage*>;

struct IOcrEngineStatics : ::IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_MaxImageDimension(UINT32* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_AvailableRecognizerLanguages(IVectorView_Language** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsLanguageSupported(ILanguage* language, boolean* result) = 0;
  virtual HRESULT STDMETHODCALLTYPE TryCreateFromLanguage(ILanguage* language, IOcrEngine** result) = 0;
  virtual HRESULT STDMETHODCALLTYPE TryCreateFromUserProfileLanguages(IOcrEngine** result) = 0;
};

// ---- error objects (classic COM, IUnknown based) -----------------------------------------

struct IRestrictedErrorInfo : ::IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR* description, HRESULT* error, BSTR* restrictedDescription,
                                                    BSTR* capabilitySid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetReference(BSTR* reference) = 0;
};

// IAgileObject: a marker that an object may be called from any apartment.
struct IAgileObject : ::IUnknown {};

}  // namespace quorvane::ocr::rt

// clang-format off
#define QUORVANE_RT_IID(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  __CRT_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)

QUORVANE_RT_IID(quorvane::ocr::rt::IClosable,                0x30d5a829, 0x7fa4, 0x4026, 0x83, 0xbb, 0xd7, 0x5b, 0xae, 0x4e, 0xa9, 0x9e)
QUORVANE_RT_IID(quorvane::ocr::rt::ILanguage,                0xea79a752, 0xf7c2, 0x4265, 0xb1, 0xbd, 0xc4, 0xde, 0xc4, 0xe4, 0xf0, 0x80)
QUORVANE_RT_IID(quorvane::ocr::rt::ILanguageFactory,         0x9b0252ac, 0x0c27, 0x44f8, 0xb7, 0x92, 0x97, 0x93, 0xfb, 0x66, 0xc6, 0x3e)
QUORVANE_RT_IID(quorvane::ocr::rt::IOutputStream,            0x905a0fe6, 0xbc53, 0x11df, 0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda)
QUORVANE_RT_IID(quorvane::ocr::rt::IRandomAccessStream,      0x905a0fe1, 0xbc53, 0x11df, 0x8c, 0x49, 0x00, 0x1e, 0x4f, 0xc6, 0x86, 0xda)
QUORVANE_RT_IID(quorvane::ocr::rt::IDataWriter,              0x64b89265, 0xd341, 0x4922, 0xb3, 0x8a, 0xdd, 0x4a, 0xf8, 0x80, 0x8c, 0x4e)
QUORVANE_RT_IID(quorvane::ocr::rt::IDataWriterFactory,       0x338c67c2, 0x8b84, 0x4c2b, 0x9c, 0x50, 0x7b, 0x87, 0x67, 0x84, 0x7a, 0x1f)
QUORVANE_RT_IID(quorvane::ocr::rt::ISoftwareBitmap,          0x689e0708, 0x7eef, 0x483f, 0x96, 0x3f, 0xda, 0x93, 0x88, 0x18, 0xe0, 0x73)
QUORVANE_RT_IID(quorvane::ocr::rt::IBitmapFrameWithSoftwareBitmap, 0xfe287c9a, 0x420c, 0x4963, 0x87, 0xad, 0x69, 0x14, 0x36, 0xe0, 0x83, 0x83)
QUORVANE_RT_IID(quorvane::ocr::rt::IBitmapDecoder,           0xacef22ba, 0x1d74, 0x4c91, 0x9d, 0xfc, 0x96, 0x20, 0x74, 0x52, 0x33, 0xe6)
QUORVANE_RT_IID(quorvane::ocr::rt::IBitmapDecoderStatics,    0x438ccb26, 0xbcef, 0x4e95, 0xba, 0xd6, 0x23, 0xa8, 0x22, 0xe5, 0x8d, 0x01)
QUORVANE_RT_IID(quorvane::ocr::rt::IOcrWord,                 0x3c2a477a, 0x5cd9, 0x3525, 0xba, 0x2a, 0x23, 0xd1, 0xe0, 0xa6, 0x8a, 0x1d)
QUORVANE_RT_IID(quorvane::ocr::rt::IOcrLine,                 0x0043a16f, 0xe31f, 0x3a24, 0x89, 0x9c, 0xd4, 0x44, 0xbd, 0x08, 0x81, 0x24)
QUORVANE_RT_IID(quorvane::ocr::rt::IOcrResult,               0x9bd235b2, 0x175b, 0x3d6a, 0x92, 0xe2, 0x38, 0x8c, 0x20, 0x6e, 0x2f, 0x63)
QUORVANE_RT_IID(quorvane::ocr::rt::IOcrEngine,               0x5a14bc41, 0x5b76, 0x3140, 0xb6, 0x80, 0x88, 0x25, 0x56, 0x26, 0x83, 0xac)
QUORVANE_RT_IID(quorvane::ocr::rt::IOcrEngineStatics,        0x5bffa85a, 0x3384, 0x3540, 0x99, 0x40, 0x69, 0x91, 0x20, 0xd4, 0x28, 0xa8)
QUORVANE_RT_IID(quorvane::ocr::rt::IRestrictedErrorInfo,     0x82ba7092, 0x4c88, 0x427d, 0xa7, 0xbc, 0x16, 0xdd, 0x93, 0xfe, 0xb6, 0x7e)
QUORVANE_RT_IID(quorvane::ocr::rt::IAgileObject,             0x94ea2b94, 0xe9cc, 0x49e0, 0xc0, 0xff, 0xee, 0x64, 0xca, 0x8f, 0x5b, 0x90)

// IAsyncOperation<T> and its completion handler
QUORVANE_RT_IID(quorvane::ocr::rt::IAsyncOperation<UINT32>,                                  0xef60385f, 0xbe78, 0x584b, 0xaa, 0xef, 0x78, 0x29, 0xad, 0xa2, 0xb0, 0xde)
QUORVANE_RT_IID(quorvane::ocr::rt::AsyncOperationCompletedHandler<UINT32>,                   0x9343b6e7, 0xe3d2, 0x5e4a, 0xab, 0x2d, 0x2b, 0xce, 0x49, 0x19, 0xa6, 0xa4)
QUORVANE_RT_IID(quorvane::ocr::rt::IAsyncOperation<quorvane::ocr::rt::IBitmapDecoder*>,           0xaa94d8e9, 0xcaef, 0x53f6, 0x82, 0x3d, 0x91, 0xb6, 0xe8, 0x34, 0x05, 0x10)
QUORVANE_RT_IID(quorvane::ocr::rt::AsyncOperationCompletedHandler<quorvane::ocr::rt::IBitmapDecoder*>, 0xbb6514f2, 0x3cfb, 0x566f, 0x82, 0xbc, 0x60, 0xaa, 0xbd, 0x30, 0x2d, 0x53)
QUORVANE_RT_IID(quorvane::ocr::rt::IAsyncOperation<quorvane::ocr::rt::ISoftwareBitmap*>,          0xc4a10980, 0x714b, 0x5501, 0x8d, 0xa2, 0xdb, 0xda, 0xcc, 0xe7, 0x0f, 0x73)
QUORVANE_RT_IID(quorvane::ocr::rt::AsyncOperationCompletedHandler<quorvane::ocr::rt::ISoftwareBitmap*>, 0xb699b653, 0x33ed, 0x5e2d, 0xa7, 0x5f, 0x02, 0xbf, 0x90, 0xe3, 0x26, 0x19)
QUORVANE_RT_IID(quorvane::ocr::rt::IAsyncOperation<quorvane::ocr::rt::IOcrResult*>,               0xc7d7118e, 0xae36, 0x59c0, 0xac, 0x76, 0x7b, 0xad, 0xee, 0x71, 0x1c, 0x8b)
QUORVANE_RT_IID(quorvane::ocr::rt::AsyncOperationCompletedHandler<quorvane::ocr::rt::IOcrResult*>, 0x989c1371, 0x444a, 0x5e7e, 0xb1, 0x97, 0x9e, 0xaa, 0xf9, 0xd2, 0x82, 0x9a)

// IVectorView<T>, IIterable<T>, IIterator<T>
QUORVANE_RT_IID(quorvane::ocr::rt::IVectorView<quorvane::ocr::rt::ILanguage*>, 0x144b0f3d, 0x2d59, 0x5dd2, 0xb0, 0x12, 0x90, 0x8e, 0xc3, 0xe0, 0x64, 0x35)
QUORVANE_RT_IID(quorvane::ocr::rt::IIterable<quorvane::ocr::rt::ILanguage*>,   0x48409a10, 0x61b6, 0x5db1, 0xa6, 0x9d, 0x8a, 0xbc, 0x46, 0xac, 0x60, 0x8a)
QUORVANE_RT_IID(quorvane::ocr::rt::IIterator<quorvane::ocr::rt::ILanguage*>,   0x30e99ae6, 0xf414, 0x5243, 0x8d, 0xb2, 0xaa, 0xb3, 0x8e, 0xa3, 0xf1, 0xf1)
QUORVANE_RT_IID(quorvane::ocr::rt::IVectorView<quorvane::ocr::rt::IOcrLine*>,  0x60c76eac, 0x8875, 0x5ddb, 0xa1, 0x9b, 0x65, 0xa3, 0x93, 0x62, 0x79, 0xea)
QUORVANE_RT_IID(quorvane::ocr::rt::IIterable<quorvane::ocr::rt::IOcrLine*>,    0x6afa94a2, 0x60d7, 0x5dbe, 0x94, 0x2d, 0x81, 0xaa, 0x39, 0x29, 0xc8, 0x5e)
QUORVANE_RT_IID(quorvane::ocr::rt::IIterator<quorvane::ocr::rt::IOcrLine*>,    0x52ca0f8a, 0x5788, 0x5695, 0xb9, 0x05, 0x46, 0xb8, 0xd8, 0x17, 0x1d, 0x88)
QUORVANE_RT_IID(quorvane::ocr::rt::IVectorView<quorvane::ocr::rt::IOcrWord*>,  0x805a60c7, 0xdf4f, 0x527c, 0x86, 0xb2, 0xe2, 0x9e, 0x43, 0x9a, 0x83, 0xd2)
QUORVANE_RT_IID(quorvane::ocr::rt::IIterable<quorvane::ocr::rt::IOcrWord*>,    0xa0ce663a, 0x46d0, 0x55e5, 0x92, 0x8e, 0x25, 0x1e, 0xb6, 0x7a, 0x1e, 0x99)
QUORVANE_RT_IID(quorvane::ocr::rt::IIterator<quorvane::ocr::rt::IOcrWord*>,    0x0ed4317a, 0x9964, 0x51c6, 0xac, 0xbe, 0x02, 0x51, 0x2a, 0x06, 0x90, 0x82)

#undef QUORVANE_RT_IID
// clang-format on
