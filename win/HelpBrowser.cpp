#include "win/HelpBrowser.h"

#include <exdisp.h>
#include <exdispid.h>
#include <ocidl.h>
#include <oleidl.h>

#include "win/WideText.h"

namespace ostrivane::win {

namespace {

// The class of the HTML document (mshtml) the browser control shows pages with.
constexpr CLSID kHtmlDocumentClass = {
    0x25336920, 0x03f9, 0x11cf, {0x8f, 0xd0, 0x00, 0xaa, 0x00, 0x68, 0x6f, 0x13}};

template <class Interface>
void ReleaseAndClear(Interface*& pointer) {
    if (pointer) {
        pointer->Release();
        pointer = nullptr;
    }
}

RECT ClientArea(HWND host) {
    RECT area{};
    GetClientRect(host, &area);
    return area;
}

}  // namespace

bool BrowserEngineInstalled() {
    IClassFactory* factory = nullptr;
    const HRESULT result = CoGetClassObject(kHtmlDocumentClass, CLSCTX_INPROC_SERVER, nullptr,
                                            IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(result) || !factory) return false;
    factory->Release();
    return true;
}

// The container side of the control: one object is its client site, its in-place site and
// frame (a frame without menus, tool space or accelerators of its own) and the sink of its
// DWebBrowserEvents2. Counted by references: the control holds it until it is closed.
class HelpBrowser::Site final : public IOleClientSite,
                                public IOleInPlaceSite,
                                public IOleInPlaceFrame,
                                public IDispatch {
  public:
    Site(HWND host, UINT failedMessage) : host_(host), failedMessage_(failedMessage) {}

    // The control's identity, to tell its top page from the frames inside it. Not counted:
    // it is only compared.
    void SetControl(IUnknown* identity) { control_ = identity; }
    bool loaded() const { return loaded_; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            *out = static_cast<IOleInPlaceSite*>(this);
        else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
            *out = static_cast<IOleInPlaceFrame*>(this);
        else if (iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2)
            *out = static_cast<IDispatch*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    // IOleWindow (of the in-place site and of the frame)
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = host_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                  LPRECT position, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override {
        if (!frame || !document || !position || !clip || !info) return E_POINTER;
        *frame = this;
        AddRef();
        *document = nullptr;
        *position = *clip = ClientArea(host_);
        info->fMDIApp = FALSE;
        info->hwndFrame = GetAncestor(host_, GA_ROOT);
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: no tool space, menus or status line.
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDispatch: DWebBrowserEvents2, whose arguments come last to first in rgvarg.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    // The control also asks its site here for ambient properties (download control, user
    // mode...): none is set, so it keeps its defaults.
    STDMETHODIMP Invoke(DISPID event, REFIID, LCID, WORD, DISPPARAMS* arguments, VARIANT*,
                        EXCEPINFO*, UINT*) override {
        if (!arguments) return DISP_E_MEMBERNOTFOUND;
        switch (event) {
            case DISPID_NAVIGATEERROR:
                // (pDisp, URL, TargetFrameName, StatusCode, Cancel): a frame or an image of
                // the page that fails is the page's business; the top page failing is ours.
                if (arguments->cArgs >= 5 && IsTopPage(arguments->rgvarg[4])) {
                    VARIANT& cancel = arguments->rgvarg[0];
                    if (cancel.vt == (VT_BOOL | VT_BYREF) && cancel.pboolVal)
                        *cancel.pboolVal = VARIANT_TRUE;
                    loaded_ = false;
                    PostMessageW(host_, failedMessage_, 0, 0);
                }
                break;
            case DISPID_DOCUMENTCOMPLETE:  // (pDisp, URL)
                if (arguments->cArgs >= 2 && IsTopPage(arguments->rgvarg[1])) loaded_ = true;
                break;
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
        return S_OK;
    }

  private:
    ~Site() = default;

    // True when `source` (the event's pDisp) is the control itself; an event without one is
    // taken as the top page's.
    bool IsTopPage(const VARIANT& source) const {
        IUnknown* object = nullptr;
        if (source.vt == VT_DISPATCH)
            object = source.pdispVal;
        else if (source.vt == (VT_DISPATCH | VT_BYREF) && source.ppdispVal)
            object = *source.ppdispVal;
        if (!object || !control_) return true;
        IUnknown* identity = nullptr;
        if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
            return false;
        const bool top = identity == control_;
        identity->Release();
        return top;
    }

    HWND host_;
    UINT failedMessage_;
    IUnknown* control_ = nullptr;
    ULONG references_ = 1;
    bool loaded_ = false;
};

std::unique_ptr<HelpBrowser> HelpBrowser::Create(HWND host, UINT failedMessage, HRESULT& error) {
    std::unique_ptr<HelpBrowser> made(new HelpBrowser());
    made->host_ = host;
    error = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                             reinterpret_cast<void**>(&made->object_));
    if (FAILED(error) || !made->object_) {
        made->object_ = nullptr;
        if (SUCCEEDED(error)) error = E_NOINTERFACE;
        return nullptr;
    }
    made->site_ = new Site(host, failedMessage);
    IUnknown* identity = nullptr;
    if (SUCCEEDED(
            made->object_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) {
        made->site_->SetControl(identity);
        identity->Release();
    }
    error =
        made->object_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&made->browser_));
    if (FAILED(error)) return nullptr;
    error = made->object_->SetClientSite(made->site_);
    if (FAILED(error)) return nullptr;
    OleSetContainedObject(made->object_, TRUE);

    // Without the events a failed load would leave the control's own error page: no reason
    // to give up the control.
    IConnectionPointContainer* points = nullptr;
    if (SUCCEEDED(made->object_->QueryInterface(IID_IConnectionPointContainer,
                                                reinterpret_cast<void**>(&points)))) {
        IConnectionPoint* point = nullptr;
        if (SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &point))) {
            if (FAILED(point->Advise(static_cast<IDispatch*>(made->site_), &made->cookie_)))
                made->cookie_ = 0;
            point->Release();
        }
        points->Release();
    }

    RECT area = ClientArea(host);
    error = made->object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, made->site_, 0, host, &area);
    if (FAILED(error)) return nullptr;
    // A script error on the help page is no reason for a dialog box.
    made->browser_->put_Silent(VARIANT_TRUE);
    made->Fit();
    return made;
}

HelpBrowser::~HelpBrowser() {
    if (browser_) browser_->Stop();
    if (cookie_ && object_) {
        IConnectionPointContainer* points = nullptr;
        if (SUCCEEDED(object_->QueryInterface(IID_IConnectionPointContainer,
                                              reinterpret_cast<void**>(&points)))) {
            IConnectionPoint* point = nullptr;
            if (SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, &point))) {
                point->Unadvise(cookie_);
                point->Release();
            }
            points->Release();
        }
    }
    if (object_) {
        IOleInPlaceObject* inPlace = nullptr;
        if (SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject,
                                              reinterpret_cast<void**>(&inPlace)))) {
            inPlace->InPlaceDeactivate();
            inPlace->Release();
        }
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
    }
    ReleaseAndClear(browser_);
    ReleaseAndClear(object_);
    ReleaseAndClear(site_);
}

HRESULT HelpBrowser::Navigate(const std::string& address) {
    BSTR url = SysAllocString(Widen(address).c_str());
    if (!url) return E_OUTOFMEMORY;
    VARIANT none;
    VariantInit(&none);
    const HRESULT result = browser_->Navigate(url, &none, &none, &none, &none);
    SysFreeString(url);
    return result;
}

void HelpBrowser::Fit() {
    IOleInPlaceObject* inPlace = nullptr;
    if (FAILED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace))))
        return;
    const RECT area = ClientArea(host_);
    inPlace->SetObjectRects(&area, &area);
    inPlace->Release();
}

HWND HelpBrowser::Window() const {
    IOleWindow* window = nullptr;
    if (FAILED(object_->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&window))))
        return nullptr;
    HWND handle = nullptr;
    if (FAILED(window->GetWindow(&handle))) handle = nullptr;
    window->Release();
    return handle;
}

bool HelpBrowser::TranslateAccelerator(MSG& message) {
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
    HWND control = Window();
    if (!control || (message.hwnd != control && !IsChild(control, message.hwnd))) return false;
    IOleInPlaceActiveObject* active = nullptr;
    if (FAILED(object_->QueryInterface(IID_IOleInPlaceActiveObject,
                                       reinterpret_cast<void**>(&active))))
        return false;
    const bool handled = active->TranslateAccelerator(&message) == S_OK;
    active->Release();
    return handled;
}

bool HelpBrowser::PageLoaded() const {
    return site_ && site_->loaded();
}

}  // namespace ostrivane::win
