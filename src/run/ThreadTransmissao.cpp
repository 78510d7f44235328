#include "run/ThreadTransmissao.h"

namespace velarix {

TThreadTransmissao::TThreadTransmissao(MainThreadQueue* main_thread) : Thread(main_thread) {}

void TThreadTransmissao::Execute() {}
void TThreadTransmissao::ProcessaPasta(const std::string&, DocumentKind) {}
void TThreadTransmissao::TransmiteXMLs(const std::string&, DocumentKind) {}

}  // namespace velarix
