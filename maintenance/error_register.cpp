#include "error_register.h"

#include <exception>
#include <new>

#include "database_engine.h"
#include "file_error.h"

namespace maintenance {

void ErrorRegister::recordCurrentException() {
    // Building a description may itself run out of memory; the register must
    // still end up holding something, so each branch falls back to no text.
    try {
        throw;
    } catch (const EngineError& e) {
        number_ = e.number();
        try { description_ = e.what(); } catch (...) { description_.clear(); }
    } catch (const FileError& e) {
        number_ = e.number();
        try { description_ = e.what(); } catch (...) { description_.clear(); }
    } catch (const std::bad_alloc&) {
        number_ = kOutOfMemory;
        try { description_ = "Memória insuficiente"; } catch (...) { description_.clear(); }
    } catch (const std::exception& e) {
        number_ = kUnexpected;
        try { description_ = std::string("Erro inesperado: ") + e.what(); } catch (...) { description_.clear(); }
    } catch (...) {
        number_ = kUnexpected;
        try { description_ = "Erro inesperado"; } catch (...) { description_.clear(); }
    }
}

}  // namespace maintenance
