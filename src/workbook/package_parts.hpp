#pragma once

#include <string>
#include <string_view>

namespace kestrova::workbook::parts {

// Namespaces and relationship types of the package, as ECMA-376 (transitional), the Open
// Packaging Conventions, Dublin Core and XML Schema give them.
inline constexpr std::string_view kSpreadsheetMl =
    "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kOfficeRelationships =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kPackageRelationships =
    "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr std::string_view kContentTypes =
    "http://schemas.openxmlformats.org/package/2006/content-types";
inline constexpr std::string_view kCoreProperties =
    "http://schemas.openxmlformats.org/package/2006/metadata/core-properties";
inline constexpr std::string_view kCorePropertiesType =
    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties";
inline constexpr std::string_view kDublinCore = "http://purl.org/dc/elements/1.1/";
inline constexpr std::string_view kDublinCoreTerms = "http://purl.org/dc/terms/";
inline constexpr std::string_view kDcmiType = "http://purl.org/dc/dcmitype/";
inline constexpr std::string_view kSchemaInstance = "http://www.w3.org/2001/XMLSchema-instance";
inline constexpr std::string_view kExtendedProperties =
    "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties";
inline constexpr std::string_view kVariantTypes =
    "http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes";

// The byte-order mark and XML declaration that open every part but [Content_Types].xml.
inline constexpr std::string_view kBom = "\xEF\xBB\xBF";
inline constexpr std::string_view kDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

// The fixed texts of the package metadata.
inline constexpr std::string_view kTitle = "Kestrova report";
inline constexpr std::string_view kCreator = "Kestrova";
inline constexpr std::string_view kApplication = "Kestrova";

// Start of xl/worksheets/sheet1.xml up to and including "<sheetData>" CR LF (no BOM).
std::string sheet_start();
inline constexpr std::string_view kSheetEnd = "</sheetData></worksheet>";
// Start of xl/sharedStrings.xml up to the CR LF after the sst tag (no BOM).
std::string shared_strings_start(std::size_t count, std::size_t unique_count);
inline constexpr std::string_view kSharedStringsEnd = "</sst>";

// The fixed parts, complete except for the BOM.
std::string styles();
std::string workbook();
std::string workbook_relationships();
std::string package_relationships();
std::string core_properties();
std::string app_properties();
std::string content_types();

} // namespace kestrova::workbook::parts
