// Reading MSVC-decorated and GCC-mangled export names far enough to tell
// whether one is a member of the table in a form the module can call.
#include "tracker/sdknames.h"

#include "tracker/sdkbind.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>

namespace sdk {

namespace text {
const char* const kNoDefaultConstructor = "Tracker SDK %s has no default constructor of %s (it exports %s)";
const char* const kRefused = "Tracker SDK %s has %s only %s (it exports %s)";
} // namespace text

namespace {

// ---- What the module passes and expects, from the table's signatures ----

// p: a pointer or reference; w: a 32-bit integer or an enumeration of that
// size; v: nothing; z: the variable arguments; x: anything else.
template <typename T> constexpr char shapeOf()
{
    if constexpr (std::is_void<T>::value)
        return 'v';
    else if constexpr (std::is_pointer<T>::value || std::is_reference<T>::value)
        return 'p';
    else if constexpr ((std::is_integral<T>::value || std::is_enum<T>::value) && !std::is_same<T, bool>::value &&
                       sizeof(T) == 4)
        return 'w';
    else
        return 'x';
}

struct Shape {
    char result;
    const char* params; // one letter per parameter
    bool isConst;
};
template <typename F> struct ShapeOf;
template <typename R, typename... P> struct ShapeOf<R(P...)> {
    static constexpr char params[] = {shapeOf<P>()..., '\0'};
    static constexpr Shape value{shapeOf<R>(), params, false};
};
template <typename R, typename... P> struct ShapeOf<R(P...) const> {
    static constexpr char params[] = {shapeOf<P>()..., '\0'};
    static constexpr Shape value{shapeOf<R>(), params, true};
};
template <typename R, typename... P> struct ShapeOf<R(P..., ...)> {
    static constexpr char params[] = {shapeOf<P>()..., 'z', '\0'};
    static constexpr Shape value{shapeOf<R>(), params, false};
};

const Shape kShapes[kMemberCount] = {
#define TARSIS_SDK_MEMBER(library, cls, kind, member, ...) ShapeOf<detail::Sig<Id::cls##_##member>::type>::value,
#include "tracker/sdktable.h"
#undef TARSIS_SDK_MEMBER
};

// ---- What an export name declares ----

// How a parameter or result travels.
enum class Pass { Void, Word, Pointer, Small, Varargs, Other };
struct Token {
    Pass pass = Pass::Other;
    std::string text;
};

struct Decl {
    bool whole = false;             // read to its end, every part understood
    std::string member;             // empty for a constructor or destructor
    char special = 0;               // 'C' constructor, 'D' destructor
    char variant = '1';             // GCC's: 1 the complete object's, 2 the base's, ...
    std::vector<std::string> scope; // enclosing classes and namespaces, outermost first
    bool function = false;          // else data
    bool isStatic = false;          // MSVC only: GCC does not say
    bool isConst = false;
    bool isPublic = true;
    bool ptr64 = false;             // MSVC: the object's address is __ptr64
    char convention = 0;            // MSVC's letter, 0 for GCC
    Refusal fault = Refusal::None;  // Form for what the module never calls (thunks, volatile, ...)
    bool hasResult = false;
    Token result;
    std::vector<Token> params;
};

// Types nest (pointers to pointers, templates of templates): a name nested
// deeper than any real one is refused rather than read to the stack's end.
const int kMaxNesting = 64;
struct Nesting {
    explicit Nesting(int& depth) : m_depth(depth) { ++m_depth; }
    ~Nesting() { --m_depth; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;
    bool tooDeep() const { return m_depth > kMaxNesting; }
    int& m_depth;
};

bool isIdentifier(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

// MSVC: ?member@Class@Namespace@@<kind>..., ??0Class@@ and ??1Class@@ for the
// constructor and the destructor.
class MsvcReader {
public:
    explicit MsvcReader(const std::string& s) : m_s(s) {}

    bool read(Decl& d)
    {
        std::vector<std::string> fragments;
        if (m_s.compare(0, 3, "??0") == 0 || m_s.compare(0, 3, "??1") == 0) {
            d.special = m_s[2] == '0' ? 'C' : 'D';
            m_i = 3;
            if (!qualifiers(fragments) || fragments.empty())
                return false;
        } else if (m_s.size() > 1 && m_s[0] == '?' && m_s[1] != '?') {
            m_i = 1;
            if (!identifier(d.member) || !qualifiers(fragments))
                return false;
        } else {
            return false;
        }
        d.scope.assign(fragments.rbegin(), fragments.rend());
        d.whole = kind(d) && m_i == m_s.size();
        return true;
    }

private:
    // X for none; else the types up to "@", or up to "Z" for "...". A digit
    // repeats one of the first ten parameter types longer than one letter.
    bool params(std::vector<Token>& out)
    {
        if (peek() == 'X') {
            ++m_i;
            return true;
        }
        while (m_i < m_s.size()) {
            const char c = m_s[m_i];
            if (c == '@') {
                ++m_i;
                return true;
            }
            if (c == 'Z') {
                ++m_i;
                out.push_back(Token{Pass::Varargs, "..."});
                return true;
            }
            if (c >= '0' && c <= '9') {
                const std::size_t n = static_cast<std::size_t>(c - '0');
                if (n >= m_backrefs.size())
                    return false;
                out.push_back(m_backrefs[n]);
                ++m_i;
                continue;
            }
            const std::size_t start = m_i;
            Token t;
            if (!type(t))
                return false;
            // Parameter types longer than one letter may be referred to by a digit later.
            if (m_i - start > 1 && m_backrefs.size() < 10)
                m_backrefs.push_back(t);
            out.push_back(t);
        }
        return false;
    }

    char peek(std::size_t ahead = 0) const { return m_i + ahead < m_s.size() ? m_s[m_i + ahead] : '\0'; }

    bool identifier(std::string& out)
    {
        const std::size_t start = m_i;
        while (m_i < m_s.size() && isIdentifier(m_s[m_i]))
            ++m_i;
        if (m_i == start || peek() != '@')
            return false;
        out = m_s.substr(start, m_i - start);
        ++m_i;
        return true;
    }

    // Name fragments up to the "@" that ends a qualified name: identifiers,
    // back-references to earlier names (a digit) and templates.
    bool qualifiers(std::vector<std::string>& out)
    {
        while (m_i < m_s.size()) {
            const char c = m_s[m_i];
            if (c == '@') {
                ++m_i;
                return true;
            }
            if (c >= '0' && c <= '9') {
                out.push_back(std::string(1, c));
                ++m_i;
            } else if (c == '?' && peek(1) == '$') {
                const std::size_t start = m_i;
                m_i += 2;
                std::string name;
                if (!identifier(name) || !templateArguments())
                    return false;
                out.push_back(m_s.substr(start, m_i - start));
            } else {
                std::string name;
                if (!identifier(name))
                    return false;
                out.push_back(name);
            }
        }
        return false;
    }

    bool templateArguments()
    {
        while (m_i < m_s.size()) {
            if (peek() == '@') {
                ++m_i;
                return true;
            }
            if (peek() == '$' && peek(1) == '0') { // an integer
                m_i += 2;
                if (!number())
                    return false;
                continue;
            }
            Token t;
            if (!type(t))
                return false;
        }
        return false;
    }

    // 0-9 stand for 1-10; else hexadecimal digits A-P ending in "@"; "?" negates.
    bool number()
    {
        if (peek() == '?')
            ++m_i;
        if (peek() >= '0' && peek() <= '9') {
            ++m_i;
            return true;
        }
        const std::size_t start = m_i;
        while (peek() >= 'A' && peek() <= 'P')
            ++m_i;
        if (peek() != '@')
            return false;
        ++m_i;
        return m_i - start >= 1;
    }

    bool kind(Decl& d)
    {
        const char c = peek();
        ++m_i;
        if (c >= '0' && c <= '4') { // a static data member or a variable: its type does not matter
            d.function = false;
            m_i = m_s.size();
            return true;
        }
        if (c < 'A' || c > 'Z')
            return false; // '$': vtordisp thunks and other special forms
        d.function = true;
        const int letter = c - 'A';
        if (c == 'Y' || c == 'Z') { // a function outside any class
            d.isStatic = true;
            return callable(d);
        }
        const int position = letter % 8; // near/far × member, static, virtual, thunk
        d.isPublic = letter / 8 == 2;
        d.isStatic = position == 2 || position == 3;
        if (position % 2 == 1 || position >= 6) {
            d.fault = Refusal::Form; // far, or an adjustor thunk
            return false;
        }
        if (!d.isStatic) {
            if (peek() == 'E') {
                d.ptr64 = true;
                ++m_i;
            }
            if (peek() == 'I' || peek() == 'F' || peek() == 'G' || peek() == 'H') {
                d.fault = Refusal::Form; // __restrict, __unaligned or a ref-qualifier on the object
                ++m_i;
            }
            const char cv = peek();
            if (cv < 'A' || cv > 'D')
                return false;
            ++m_i;
            d.isConst = cv == 'B' || cv == 'D';
            if (cv == 'C' || cv == 'D')
                d.fault = Refusal::Form; // volatile
        }
        return callable(d);
    }

    // Calling convention, result, parameters and the list of exceptions it may throw.
    bool callable(Decl& d)
    {
        const char convention = peek();
        if (convention < 'A' || convention > 'Q')
            return false;
        ++m_i;
        // The odd letters are the same conventions marked for export.
        d.convention = static_cast<char>('A' + ((convention - 'A') & ~1));
        if (d.special) {
            if (peek() != '@')
                return false;
            ++m_i;
        } else {
            d.hasResult = true;
            if (!type(d.result, true))
                return false;
        }
        if (!params(d.params))
            return false;
        if (peek() != 'Z')
            return false;
        ++m_i;
        return true;
    }

    bool type(Token& t, bool result = false)
    {
        const Nesting nesting(m_depth);
        if (nesting.tooDeep())
            return false;
        const std::size_t start = m_i;
        const char c = peek();
        ++m_i;
        switch (c) {
        case 'C': case 'D': case 'E': case 'F': case 'G':
            t.pass = Pass::Small;
            break;
        case 'H': case 'I': case 'J': case 'K':
            t.pass = Pass::Word;
            break;
        case 'M': case 'N': case 'O':
            t.pass = Pass::Other; // floating point
            break;
        case 'X':
            t.pass = Pass::Void;
            break;
        case '_': {
            const char e = peek();
            ++m_i;
            if (e == 'H' || e == 'I')
                t.pass = Pass::Word;
            else if (e && std::strchr("DEFGJKNQSUW", e))
                t.pass = Pass::Small;
            else
                return false;
            break;
        }
        case 'W': { // an enumeration: W4 for int, the others older spellings
            const char e = peek();
            ++m_i;
            if (e < '0' || e > '7')
                return false;
            std::vector<std::string> name;
            if (!qualifiers(name))
                return false;
            t.pass = e >= '4' ? Pass::Word : Pass::Small;
            break;
        }
        case 'T': case 'U': case 'V': { // union, struct or class by value
            std::vector<std::string> name;
            if (!qualifiers(name))
                return false;
            t.pass = Pass::Other;
            break;
        }
        case 'P': case 'Q': case 'R': case 'S': case 'A': case 'B': {
            bool member = false;
            if (!pointee(member))
                return false;
            t.pass = member ? Pass::Other : Pass::Pointer;
            break;
        }
        case '$':
            if (peek() != '$')
                return false;
            ++m_i;
            if (peek() == 'Q' || peek() == 'R') { // rvalue reference
                ++m_i;
                bool member = false;
                if (!pointee(member))
                    return false;
                t.pass = Pass::Pointer;
            } else if (peek() == 'C') { // a qualified type
                ++m_i;
                if (peek() < 'A' || peek() > 'D')
                    return false;
                ++m_i;
                Token inner;
                if (!type(inner))
                    return false;
                t.pass = inner.pass;
            } else if (peek() == 'T') { // std::nullptr_t
                ++m_i;
                t.pass = Pass::Pointer;
            } else {
                return false;
            }
            break;
        case '?': { // a result of class type, with its qualifiers
            if (!result || peek() < 'A' || peek() > 'D')
                return false;
            ++m_i;
            Token inner;
            if (!type(inner))
                return false;
            t.pass = inner.pass;
            break;
        }
        default:
            return false;
        }
        t.text = m_s.substr(start, m_i - start);
        return true;
    }

    // What a pointer or reference refers to: modifiers, then a function type
    // (6), a member function of a class (8), or the referred type's
    // qualifiers (Q to T: of a member of a class) and the type, perhaps an
    // array. member: a pointer to a member, which does not travel as an address.
    bool pointee(bool& member)
    {
        while (peek() == 'E' || peek() == 'I' || peek() == 'F')
            ++m_i;
        Decl function;
        if (peek() == '6') {
            ++m_i;
            return callable(function);
        }
        std::vector<std::string> cls;
        if (peek() == '8') {
            ++m_i;
            member = true;
            if (!qualifiers(cls))
                return false;
            while (peek() == 'E' || peek() == 'I' || peek() == 'F')
                ++m_i;
            if (peek() < 'A' || peek() > 'D')
                return false;
            ++m_i;
            return callable(function);
        }
        if (peek() >= 'Q' && peek() <= 'T') {
            ++m_i;
            member = true;
            if (!qualifiers(cls))
                return false;
        } else if (peek() >= 'A' && peek() <= 'D') {
            ++m_i;
        } else {
            return false;
        }
        if (peek() == 'Y') {
            ++m_i;
            if (peek() < '0' || peek() > '9') // dimensions counted up to ten
                return false;
            int dimensions = peek() - '0' + 1;
            ++m_i;
            while (dimensions-- > 0)
                if (!number())
                    return false;
        }
        Token t;
        return type(t);
    }

    const std::string& m_s;
    std::size_t m_i = 0;
    int m_depth = 0;
    std::vector<Token> m_backrefs;
};

// GCC: _ZN[K]<names>E<parameters>, C1/C2 and D0/D1/D2 for the constructors
// and destructors, S_ and S<n>_ for earlier parts of the name.
class ItaniumReader {
public:
    ItaniumReader(const std::string& s, bool long32) : m_s(s), m_long32(long32) {}

    bool read(Decl& d)
    {
        if (m_s.compare(0, 2, "_Z") != 0)
            return false;
        m_i = 2;
        std::vector<std::string> names;
        bool ended = false;
        if (peek() == 'N') {
            ++m_i;
            while (peek() == 'K' || peek() == 'V' || peek() == 'r') {
                if (peek() == 'K')
                    d.isConst = true;
                else
                    d.fault = Refusal::Form; // volatile or restrict
                ++m_i;
            }
            if (peek() == 'R' || peek() == 'O') // a ref-qualifier changes nothing in the call
                ++m_i;
            std::string prefix;
            while (m_i < m_s.size() && peek() != 'E') {
                std::string name;
                const Part part = component(d, name);
                if (part == Part::Fault)
                    break;
                // Every prefix of the name but the whole (and ::std) can be referred to later.
                if (!names.empty() && prefix != "St")
                    m_subs.push_back(Token{Pass::Other, "N" + prefix + "E"});
                prefix += m_last;
                if (!d.special)
                    names.push_back(name);
                if (d.special || part == Part::Last)
                    break;
            }
            ended = peek() == 'E';
            if (ended)
                ++m_i;
        } else if (peek() >= '0' && peek() <= '9') {
            std::string name;
            if (!sourceName(name))
                return false;
            names.push_back(name);
            ended = true;
        } else {
            return false;
        }
        if (names.empty())
            return false;
        if (!d.special) {
            d.member = names.back();
            names.pop_back();
        }
        d.scope = names;
        if (!ended)
            return true; // the name names the member, but is cut short
        if (m_i == m_s.size()) { // no parameter list: data
            d.whole = true;
            return true;
        }
        d.function = true;
        d.whole = params(d.params) && m_i == m_s.size();
        return true;
    }

private:
    // v alone for none; else the types to the end of the name.
    bool params(std::vector<Token>& out)
    {
        if (peek() == 'v' && m_i + 1 == m_s.size()) {
            ++m_i;
            return true;
        }
        while (m_i < m_s.size()) {
            Token t;
            if (!type(t))
                return false;
            out.push_back(t);
        }
        return !out.empty();
    }

    char peek(std::size_t ahead = 0) const { return m_i + ahead < m_s.size() ? m_s[m_i + ahead] : '\0'; }

    bool sourceName(std::string& out)
    {
        std::size_t length = 0;
        const std::size_t start = m_i;
        while (peek() >= '0' && peek() <= '9' && length < 100000)
            length = length * 10 + static_cast<std::size_t>(m_s[m_i++] - '0');
        if (m_i == start || length == 0 || length > m_s.size() - m_i)
            return false;
        out = m_s.substr(m_i, length);
        m_i += length;
        m_last = m_s.substr(start, m_i - start);
        return true;
    }

    // One part of a nested name; m_last holds its spelling. Last: a part
    // after which nothing more is read (a template's name).
    enum class Part { Next, Last, Fault };
    Part component(Decl& d, std::string& name)
    {
        const std::size_t start = m_i;
        if (peek() == 'C' && peek(1) >= '1' && peek(1) <= '3') {
            d.special = 'C';
            d.variant = peek(1);
            m_i += 2;
        } else if (peek() == 'C' && peek(1) == 'I') { // an inheriting constructor
            d.special = 'C';
            d.variant = 'I';
            m_i += 3;
            Token base;
            if (!type(base))
                return Part::Fault;
        } else if (peek() == 'D' && peek(1) >= '0' && peek(1) <= '2') {
            d.special = 'D';
            d.variant = peek(1);
            m_i += 2;
        } else if (peek() == 'S' && peek(1) == 't') {
            m_i += 2;
            name = "std";
        } else if (!sourceName(name)) {
            return Part::Fault;
        }
        while (peek() == 'B') { // ABI tags say nothing about the call
            ++m_i;
            std::string tag;
            if (!sourceName(tag))
                return Part::Fault;
        }
        m_last = m_s.substr(start, m_i - start);
        if (peek() == 'I') {
            d.fault = Refusal::Form; // a template: its result is part of the name
            return Part::Last;
        }
        return Part::Next;
    }

    void remember(const Token& t) { m_subs.push_back(t); }

    // The arguments of a template named by t, if any follow: they are part of
    // the type, which is remembered whole.
    bool templated(Token& t)
    {
        if (peek() != 'I')
            return true;
        const std::size_t args = m_i;
        if (!templateArguments())
            return false;
        t = Token{Pass::Other, t.text + m_s.substr(args, m_i - args)};
        remember(t);
        return true;
    }

    bool substitution(Token& t)
    {
        // S_ is the first, S0_ the second, S1_ the third ...: base 36.
        std::size_t index = 0;
        if (peek() != '_') {
            std::size_t n = 0;
            const std::size_t start = m_i;
            while ((peek() >= '0' && peek() <= '9') || (peek() >= 'A' && peek() <= 'Z')) {
                const char c = m_s[m_i++];
                n = n * 36 + static_cast<std::size_t>(c <= '9' ? c - '0' : c - 'A' + 10);
                if (n > m_subs.size())
                    return false;
            }
            if (m_i == start)
                return false;
            index = n + 1;
        }
        if (peek() != '_' || index >= m_subs.size())
            return false;
        ++m_i;
        t = m_subs[index];
        return true;
    }

    bool templateArguments()
    {
        ++m_i; // I
        while (m_i < m_s.size() && peek() != 'E') {
            if (peek() == 'L') { // a literal
                ++m_i;
                Token t;
                if (!type(t))
                    return false;
                if (peek() == 'n')
                    ++m_i;
                while (peek() >= '0' && peek() <= '9')
                    ++m_i;
                if (peek() != 'E')
                    return false;
                ++m_i;
                continue;
            }
            Token t;
            if (!type(t))
                return false;
        }
        if (peek() != 'E')
            return false;
        ++m_i;
        return true;
    }

    bool type(Token& t)
    {
        const Nesting nesting(m_depth);
        if (nesting.tooDeep())
            return false;
        const std::size_t start = m_i;
        const char c = peek();
        ++m_i;
        switch (c) {
        case 'v':
            t = Token{Pass::Void, "v"};
            return true;
        case 'i': case 'j':
            t = Token{Pass::Word, std::string(1, c)};
            return true;
        case 'l': case 'm':
            t = Token{m_long32 ? Pass::Word : Pass::Small, std::string(1, c)};
            return true;
        case 'b': case 'c': case 'a': case 'h': case 's': case 't': case 'w': case 'x': case 'y':
            t = Token{Pass::Small, std::string(1, c)};
            return true;
        case 'n': case 'o': case 'f': case 'd': case 'e': case 'g':
            t = Token{Pass::Other, std::string(1, c)};
            return true;
        case 'z':
            t = Token{Pass::Varargs, "z"};
            return true;
        case 'D': {
            const char e = peek();
            ++m_i;
            if (e == 'n')
                t = Token{Pass::Pointer, "Dn"};
            else if (e == 'i' || e == 's' || e == 'u')
                t = Token{Pass::Small, std::string("D") + e};
            else
                return false;
            return true;
        }
        case 'r': case 'V': case 'K': {
            std::string qualifiers(1, c);
            while (peek() == 'r' || peek() == 'V' || peek() == 'K')
                qualifiers += m_s[m_i++];
            Token inner;
            if (!type(inner))
                return false;
            t = Token{inner.pass, qualifiers + inner.text};
            remember(t);
            return true;
        }
        case 'P': case 'R': case 'O': {
            Token inner;
            if (!type(inner))
                return false;
            t = Token{Pass::Pointer, std::string(1, c) + inner.text};
            remember(t);
            return true;
        }
        case 'A': {
            const std::size_t dimension = m_i;
            while (peek() >= '0' && peek() <= '9')
                ++m_i;
            if (peek() != '_')
                return false;
            ++m_i;
            const std::string bound = m_s.substr(dimension, m_i - dimension);
            Token inner;
            if (!type(inner))
                return false;
            t = Token{Pass::Other, "A" + bound + inner.text};
            remember(t);
            return true;
        }
        case 'F': {
            if (peek() == 'Y')
                ++m_i;
            std::string text = "F";
            while (m_i < m_s.size() && peek() != 'E') {
                if ((peek() == 'R' || peek() == 'O') && peek(1) == 'E') {
                    ++m_i;
                    continue;
                }
                Token p;
                if (!type(p))
                    return false;
                text += p.text;
            }
            if (peek() != 'E')
                return false;
            ++m_i;
            t = Token{Pass::Other, text + "E"};
            remember(t);
            return true;
        }
        case 'M': {
            Token cls, member;
            if (!type(cls) || !type(member))
                return false;
            t = Token{Pass::Other, "M" + cls.text + member.text};
            remember(t);
            return true;
        }
        case 'N': {
            std::string prefix;
            bool first = true;
            while (m_i < m_s.size() && peek() != 'E') {
                // A prefix is remembered once it is more than ::std or an earlier one.
                if (first && peek() == 'S' && peek(1) != 't') {
                    Token sub;
                    ++m_i;
                    if (!substitution(sub))
                        return false;
                    prefix = sub.text;
                    first = false;
                    continue;
                }
                if (first && peek() == 'S' && peek(1) == 't') {
                    m_i += 2;
                    prefix = "St";
                    first = false;
                    continue;
                }
                if (peek() == 'I') {
                    const std::size_t args = m_i;
                    if (!templateArguments())
                        return false;
                    prefix += m_s.substr(args, m_i - args);
                } else {
                    std::string name;
                    if (!sourceName(name))
                        return false;
                    prefix += m_last;
                }
                first = false;
                remember(Token{Pass::Other, "N" + prefix + "E"});
            }
            if (peek() != 'E')
                return false;
            ++m_i;
            t = Token{Pass::Other, "N" + prefix + "E"};
            return true;
        }
        case 'S': {
            if (peek() == 't') {
                ++m_i;
                std::string name;
                if (!sourceName(name))
                    return false;
                t = Token{Pass::Other, "St" + m_last};
                remember(t);
            } else if (peek() && std::strchr("absiod", peek())) {
                t = Token{Pass::Other, m_s.substr(start, 2)};
                ++m_i;
            } else if (!substitution(t)) {
                return false;
            }
            return templated(t);
        }
        default:
            break;
        }
        if (c >= '1' && c <= '9') { // a class or enumeration by its name
            --m_i;
            std::string name;
            if (!sourceName(name))
                return false;
            t = Token{Pass::Other, m_last};
            remember(t);
            return templated(t);
        }
        return false;
    }

    const std::string& m_s;
    bool m_long32;
    std::size_t m_i = 0;
    int m_depth = 0;
    std::string m_last;
    std::vector<Token> m_subs;
};

// The declaration an export name makes, if it reads as a member of a class
// (or a function of a namespace) at all.
bool readDecl(const std::string& name, NameAbi abi, Decl& d, bool& msvc)
{
    msvc = !name.empty() && name[0] == '?';
    if (msvc)
        return MsvcReader(name).read(d);
    return ItaniumReader(name, abi.long32).read(d);
}

// Whether the declaration names the member at all, wherever it lives.
bool namesMember(const Decl& d, const MemberInfo& info)
{
    if (info.kind == Kind::Ctor || info.kind == Kind::Dtor) {
        const char special = info.kind == Kind::Ctor ? 'C' : 'D';
        // GCC's base-object, allocating and deleting forms go with the one taken.
        return d.special == special && !d.scope.empty() && d.scope.back() == info.cls && d.variant == '1';
    }
    return !d.special && d.member == info.member;
}

bool passesAs(const Token& got, char shape, const Token* table)
{
    if (table && got.text == table->text)
        return true;
    switch (shape) {
    case 'w':
        return got.pass == Pass::Word;
    case 'p':
        return got.pass == Pass::Pointer;
    case 'z':
        return got.pass == Pass::Varargs;
    default:
        return false;
    }
}

bool sameParameters(const Decl& d, const Shape& shape, const Decl& table)
{
    const std::size_t count = std::strlen(shape.params);
    if (d.params.size() != count)
        return false;
    for (std::size_t k = 0; k < count; ++k)
        if (!passesAs(d.params[k], shape.params[k], k < table.params.size() ? &table.params[k] : nullptr))
            return false;
    return true;
}

// A result the module ignores may be anything that comes back in registers.
bool sameResult(const Decl& d, const Shape& shape, const Decl& table)
{
    if (!d.hasResult)
        return true;
    if (table.hasResult && d.result.text == table.result.text)
        return true;
    if (shape.result == 'v')
        return d.result.pass == Pass::Void || d.result.pass == Pass::Word || d.result.pass == Pass::Pointer ||
               d.result.pass == Pass::Small;
    return passesAs(d.result, shape.result, nullptr);
}

Refusal judge(const Decl& d, bool msvc, const MemberInfo& info, const Shape& shape, const Decl& table, NameAbi abi)
{
    if (d.scope != std::vector<std::string>{info.cls})
        return Refusal::OtherScope;
    if (!d.whole)
        return Refusal::Form;
    if (!d.function)
        return Refusal::Data;
    const bool wantStatic = info.kind == Kind::Static;
    if (wantStatic && (msvc ? !d.isStatic : d.isConst))
        return Refusal::NonStatic;
    if (!wantStatic && msvc && d.isStatic)
        return Refusal::Static;
    if (d.fault != Refusal::None)
        return d.fault;
    if (!d.isPublic)
        return Refusal::NotPublic;
    if (msvc) {
        if (!d.isStatic && d.ptr64 != abi.x64)
            return Refusal::Form; // the other machine's name
        // 32-bit members take the object in a register (__thiscall); static
        // functions, and everything on 64-bit, are __cdecl.
        const char convention = !d.isStatic && !abi.x64 ? 'E' : 'A';
        if (d.convention != convention)
            return Refusal::Convention;
    }
    if (!wantStatic && d.isConst != shape.isConst)
        return d.isConst ? Refusal::Const : Refusal::NonConst;
    if (!sameParameters(d, shape, table))
        return Refusal::Parameters;
    if (!sameResult(d, shape, table))
        return Refusal::Result;
    return Refusal::None;
}

void addOnce(std::vector<std::string>& names, const std::string& name)
{
    if (std::find(names.begin(), names.end(), name) == names.end())
        names.push_back(name);
}

} // namespace

NameAbi nativeNameAbi()
{
    return NameAbi{sizeof(void*) == 8, sizeof(long) == 4};
}

Match findExport(const std::vector<std::string>& exports, Id id, NameAbi abi)
{
    const MemberInfo& info = memberInfo(id);
    const Shape& shape = kShapes[static_cast<int>(id)];
    // The table's own spellings, for parameters that are neither words nor addresses.
    Decl tableMsvc, tableItanium;
    MsvcReader(abi.x64 ? info.msvc64 : info.msvc32).read(tableMsvc);
    ItaniumReader(info.itanium, abi.long32).read(tableItanium);

    Match match;
    std::vector<std::string> refused;
    Refusal why = Refusal::None;
    for (const std::string& name : exports) {
        Decl d;
        bool msvc = false;
        if (!readDecl(name, abi, d, msvc) || !namesMember(d, info))
            continue;
        const Refusal r = judge(d, msvc, info, shape, msvc ? tableMsvc : tableItanium, abi);
        if (r == Refusal::None) {
            addOnce(match.candidates, name);
        } else {
            const std::size_t before = refused.size();
            addOnce(refused, name);
            if (refused.size() > before)
                why = before == 0 || why == r ? r : Refusal::Form;
        }
    }
    if (match.candidates.size() == 1) {
        match.result = Match::Found;
        match.name = match.candidates[0];
    } else if (match.candidates.size() > 1) {
        match.result = Match::Ambiguous;
    } else if (!refused.empty()) {
        match.result = Match::Refused;
        match.candidates = refused;
        match.why = why;
    }
    return match;
}

const char* refusalText(Refusal why)
{
    switch (why) {
    case Refusal::OtherScope:
        return "under another class or namespace";
    case Refusal::Data:
        return "as data";
    case Refusal::Static:
        return "as a static member function";
    case Refusal::NonStatic:
        return "as a member function of an object";
    case Refusal::NotPublic:
        return "as a private or protected member";
    case Refusal::Convention:
        return "with another calling convention";
    case Refusal::Const:
        return "as a const member function";
    case Refusal::NonConst:
        return "as a non-const member function";
    case Refusal::Parameters:
        return "with other parameters";
    case Refusal::Result:
        return "with another result type";
    case Refusal::None:
    case Refusal::Form:
        break;
    }
    return "in forms the module cannot call";
}

std::string refusalLine(const std::string& file, Id id, const std::vector<std::string>& candidates, Refusal why)
{
    const MemberInfo& info = memberInfo(id);
    std::string names;
    for (const std::string& c : candidates)
        names += (names.empty() ? "" : ", ") + c;
    if (info.kind == Kind::Ctor && why == Refusal::Parameters && !*kShapes[static_cast<int>(id)].params)
        return formatLine(text::kNoDefaultConstructor, file.c_str(), info.cls, names.c_str());
    const std::string member = std::string(info.cls) + "::" + info.member;
    return formatLine(text::kRefused, file.c_str(), member.c_str(), refusalText(why), names.c_str());
}

} // namespace sdk
