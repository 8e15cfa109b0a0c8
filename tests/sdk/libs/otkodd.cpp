// An OTK built by GCC that declares its classes otherwise than the module
// calls them, as another version of the SDK might: what the binding refuses,
// and the trivial constructors it leaves unbound. Only its export table is
// read; nothing here is ever called.
#if defined(_WIN32)
#define ODD_API __declspec(dllexport)
#else
#define ODD_API __attribute__((visibility("default")))
#endif

// Only a default constructor, where the module passes the serial settings.
class ODD_API COTKser {
public:
    COTKser();
    int m_baud;
};
COTKser::COTKser() : m_baud(0) {}

// No default constructor exported: an object of each starts zeroed.
class ODD_API COTKbiterr {
public:
    explicit COTKbiterr(unsigned long errors);
    unsigned long m_errors;
};
COTKbiterr::COTKbiterr(unsigned long errors) : m_errors(errors) {}

class ODD_API COTKmdat {
public:
    explicit COTKmdat(int capacity);
    int m_count;
};
COTKmdat::COTKmdat(int capacity) : m_count(capacity) {}

class ODD_API COvBase {
public:
    const char* GetLastResultStr();
};
const char* COvBase::GetLastResultStr() { return ""; }

class ODD_API COTKdev : public COvBase {
public:
    explicit COTKdev(const char* port = nullptr);
    int TrackerType() const;
    int SetFrameRate(double rate);
    const char* m_port;
};
COTKdev::COTKdev(const char* port) : m_port(port) {}
int COTKdev::TrackerType() const { return 0; }
int COTKdev::SetFrameRate(double rate) { return rate > 0; }
