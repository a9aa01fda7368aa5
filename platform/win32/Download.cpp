// Downloads through the URL moniker (URLDownloadToFileA). The moniker
// reports an HTTP error page and a body cut short as success, so the status
// and the size are checked here; and it waits on a silent server for good,
// so a watch on the callbacks aborts a transfer that has stalled.
#include "platform/Download.h"

#include <windows.h>
#include <urlmon.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "WideText.h"

namespace platform {

namespace {

// A transfer that shows no sign of life for this long is aborted.
constexpr std::chrono::seconds kStallLimit{60};

// What the caller and the download thread share.
struct Transfer {
    std::mutex mutex;  // guards everything below
    std::condition_variable changed;
    std::chrono::steady_clock::time_point lastSign = std::chrono::steady_clock::now();
    IBinding* binding = nullptr;  // held from OnStartBinding to OnStopBinding
    bool finished = false;

    void Touch() {
        std::lock_guard lock(mutex);
        lastSign = std::chrono::steady_clock::now();
    }
};

bool HasScheme(const std::string& url, const char* scheme) {
    const size_t n = std::char_traits<char>::length(scheme);
    if (url.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    return true;
}

// The status callback of one download. It lives on the caller's stack until
// the moniker has returned, so it counts no references.
class BindCallback final : public IBindStatusCallback, public IHttpNegotiate {
public:
    BindCallback(const DownloadProgress& progress, Transfer& transfer) : progress_(progress), transfer_(transfer) {}

    bool failedStatus() const { return status_ >= 400; }
    // The size the transfer announced (0 when unknown) and what arrived.
    ULONG announced() const { return announced_; }
    ULONG received() const { return received_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
            *object = static_cast<IBindStatusCallback*>(this);
            return S_OK;
        }
        // Asked for by the HTTP protocol; it brings the response status.
        if (IsEqualIID(riid, IID_IHttpNegotiate)) {
            *object = static_cast<IHttpNegotiate*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
        if (binding) binding->AddRef();
        std::lock_guard lock(transfer_.mutex);
        transfer_.binding = binding;
        transfer_.lastSign = std::chrono::steady_clock::now();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode, LPCWSTR) override {
        transfer_.Touch();
        if (statusCode != BINDSTATUS_BEGINDOWNLOADDATA && statusCode != BINDSTATUS_DOWNLOADINGDATA &&
            statusCode != BINDSTATUS_ENDDOWNLOADDATA)
            return S_OK;
        // The size of an error page is not the progress of the download.
        if (failedStatus()) return E_ABORT;
        announced_ = progressMax;
        received_ = progress;
        if (progress_) progress_(progressMax, progress);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
        IBinding* binding = nullptr;
        {
            std::lock_guard lock(transfer_.mutex);
            std::swap(binding, transfer_.binding);
        }
        if (binding) binding->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override {
        // Every download comes from the server, never from the cache: an
        // installer or a list fetched again must be the current one.
        if (flags) *flags |= BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additionalHeaders) override {
        if (additionalHeaders) *additionalHeaders = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR, LPCWSTR, LPWSTR* additionalHeaders) override {
        if (additionalHeaders) *additionalHeaders = nullptr;
        transfer_.Touch();
        status_ = status;  // of the last response: redirects are followed before it
        return failedStatus() ? E_ABORT : S_OK;
    }

private:
    const DownloadProgress& progress_;
    Transfer& transfer_;
    DWORD status_ = 0;  // stays 0 for file: addresses
    ULONG announced_ = 0;
    ULONG received_ = 0;
};

// COM for the download's thread, for the length of the download.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    // A thread that already runs COM in the other model works as it is.
    bool usable() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

bool FileSize(const std::wstring& name, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

}  // namespace

bool DownloadToFile(const std::string& url, const std::string& file, const DownloadProgress& progress) {
    if (url.empty() || file.empty()) return false;
    if (!HasScheme(url, "http://") && !HasScheme(url, "https://") && !HasScheme(url, "file:")) return false;
    // Received into a side file and moved over the target at the end, so a
    // failed download never leaves a half file under the target name.
    const std::string partial = file + ".part";
    const std::wstring partialWide = win32::WideFrom(partial);
    const std::wstring fileWide = win32::WideFrom(file);
    if (partialWide.empty() || fileWide.empty()) return false;

    Transfer transfer;
    BindCallback callback(progress, transfer);
    HRESULT hr = E_FAIL;
    // The moniker runs on a thread of its own (in its own apartment) so that
    // this one can watch it.
    std::thread worker([&] {
        {
            ComScope com;
            if (com.usable()) hr = URLDownloadToFileA(nullptr, url.c_str(), partial.c_str(), 0, &callback);
        }
        std::lock_guard lock(transfer.mutex);
        transfer.finished = true;
        transfer.changed.notify_all();
    });
    {
        std::unique_lock lock(transfer.mutex);
        while (!transfer.finished) {
            if (transfer.changed.wait_until(lock, transfer.lastSign + kStallLimit, [&] { return transfer.finished; }))
                break;
            if (std::chrono::steady_clock::now() < transfer.lastSign + kStallLimit || !transfer.binding) continue;
            // Abort ends the moniker's wait from any thread; the binding may
            // call back meanwhile, so no lock is held.
            IBinding* binding = transfer.binding;
            binding->AddRef();
            transfer.lastSign = std::chrono::steady_clock::now();
            lock.unlock();
            binding->Abort();
            binding->Release();
            lock.lock();
        }
    }
    worker.join();
    // A binding that never reported its end is let go here.
    if (transfer.binding) transfer.binding->Release();
    uint64_t size = 0;
    bool whole = SUCCEEDED(hr) && !callback.failedStatus() && FileSize(partialWide, size);
    // A connection that ended early still counts as success to the moniker.
    // Its counts are 32 bits wide, so they are compared as such.
    if (whole && callback.announced() > 0)
        whole = callback.received() == callback.announced() && static_cast<ULONG>(size) == callback.announced();
    if (!whole) {
        DeleteFileW(partialWide.c_str());
        return false;
    }
    if (!MoveFileExW(partialWide.c_str(), fileWide.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(partialWide.c_str());
        return false;
    }
    return true;
}

// Windows starts any file named .exe; there is no permission to add. The
// file must be there, as on every system.
bool MarkRunnable(const std::string& file) {
    const std::wstring name = win32::WideFrom(file);
    if (name.empty()) return false;
    const DWORD attributes = GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace platform
