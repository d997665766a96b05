#include "errno_text.h"

#include <cerrno>

namespace maintenance {

std::string errnoText(int errnoValue) {
    switch (errnoValue) {
    case EPERM: return "operação não permitida";
    case ENOENT: return "arquivo ou pasta não encontrado";
    case EIO: return "erro de entrada/saída";
    case EBADF: return "descritor de arquivo inválido";
    case ENOMEM: return "memória insuficiente";
    case EACCES: return "permissão negada";
    case EBUSY: return "arquivo em uso por outro programa";
    case EEXIST: return "o arquivo já existe";
    case EXDEV: return "os arquivos estão em sistemas de arquivos diferentes";
    case ENOTDIR: return "um componente do caminho não é uma pasta";
    case EISDIR: return "é uma pasta";
    case EINVAL: return "argumento inválido";
    case ENFILE:
    case EMFILE: return "arquivos abertos demais";
    case EFBIG: return "arquivo grande demais";
    case ENOSPC: return "não há espaço livre no dispositivo";
    case EROFS: return "sistema de arquivos somente leitura";
    case ENAMETOOLONG: return "nome de arquivo longo demais";
    case ELOOP: return "links simbólicos demais no caminho";
    case EDQUOT: return "cota de disco excedida";
    case ETXTBSY: return "arquivo em execução";
    case EAGAIN: return "recurso temporariamente indisponível";
    case EINTR: return "operação interrompida";
    case ENOSYS:
    case EOPNOTSUPP: return "operação não suportada";
    default: return "erro do sistema número " + std::to_string(errnoValue);
    }
}

}  // namespace maintenance
