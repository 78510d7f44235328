// The thirteen watched folders and the eleven upload endpoints: the vocabulary that the run,
// the history and the window share.
#pragma once

#include <array>
#include <cstdint>

namespace velarix {

// Index into UploadEndpoints. Several watched folders share a kind.
using DocumentKind = uint8_t;

struct WatchedFolder {
  const char* key;         // key in section DATA of the settings file
  const char* edit_field;  // the settings window's edit box
  const char* tab;         // caption of its tab
  const char* label;       // caption of the label above the edit box
  DocumentKind kind;
};

// In the order of processing, loading and saving.
inline constexpr std::array<WatchedFolder, 13> WatchedFolders = {{
    {"nfenfce_upload_xml_1", "EBCaminhoXMLsNFe", "NF-e", "Caminho XMLs NF-e", 0},
    {"nfenfce_upload_xml_2", "EBCaminhoXMLsNFCe", "NFC-e", "Caminho XMLs NFC-e", 1},
    {"cte_upload_xml", "EBCaminhoXMLsCTe", "CT-e", "Caminho XMLs CT-e", 2},
    {"mdfe_upload_xml", "EBCaminhoXMLsMDFe", "MDF-e", "Caminho XMLs MDF-e", 3},
    {"events_upload_nfenfce_xml_1", "EBCaminhoXMLsEventoNFe", "NF-e",
     "Eventos NF-e (Carta de Correção, Cancelamento)", 4},
    {"events_upload_nfenfce_xml_2", "EBCaminhoXMLsCancNFCe", "NFC-e",
     "Caminho XMLs cancelamento NFC-e", 5},
    {"events_upload_cte_xml_1", "EBCaminhoXMLsCancCTe", "CT-e", "Caminho XMLs Cancelamento CT-e",
     6},
    {"events_upload_cte_xml_2", "EBCaminhoXMLsCCeCTe", "CT-e",
     "Caminho XMLs Carta de Correção CT-e", 7},
    {"events_upload_cte_xml_3", "EBCaminhoXMLsEventoCTe", "CT-e", "Caminho XMLs Eventos CT-e", 7},
    {"inutilization_upload_nfenfce_xml_1", "EBCaminhoXMLsInutNFe", "NF-e",
     "Caminho XMLs de Inutilização de NF-e", 8},
    {"inutilization_upload_nfenfce_xml_2", "EBCaminhoXMLsInutNFCe", "NFC-e",
     "Caminho XMLs de Inutilização de NFC-e", 8},
    {"inutilization_upload_cte_xml", "EBCaminhoXMLInutCTe", "CT-e",
     "Caminho XMLs Inutilização Números CT-e", 9},
    {"nfe_upload_xml_1", "EBCaminhoXMLsNFeCompra", "NF-e Entrada", "Caminho XMLs NF-e Compras",
     10},
}};

// Relative URL paths indexed by DocumentKind. The path, not the kind, ends the upload URL and
// is what the history records, so kinds that share a path share their deliveries.
inline constexpr std::array<const char*, 11> UploadEndpoints = {{
    "api/docs/nfenfce/upload",
    "api/docs/nfenfce/upload",
    "api/docs/cte/upload",
    "api/docs/mdfe/upload",
    "api/docs/eventos/nfenfce/upload",
    "api/docs/eventos/nfenfce/upload",
    "api/docs/eventos/cte/upload",
    "api/docs/eventos/cte/upload",
    "api/docs/inutilizacao/nfenfce/upload",
    "api/docs/inutilizacao/cte/upload",
    "api/docs/nfe/upload",
}};

}  // namespace velarix
