#include "workbook/package_parts.hpp"

namespace kestrova::workbook::parts {
namespace {

std::string attr(std::string_view name, std::string_view value) {
  std::string s(name);
  s += "=\"";
  s += value;
  s += '"';
  return s;
}

std::string relationship(std::string_view id, std::string_view type, std::string_view target) {
  return "<Relationship " + attr("Id", id) + " " + attr("Type", type) + " " +
         attr("Target", target) + "/>";
}

std::string office_type(std::string_view name) {
  return std::string(kOfficeRelationships) + "/" + std::string(name);
}

std::string relationships_start() {
  return std::string(kDeclaration) + "<Relationships " + attr("xmlns", kPackageRelationships) + ">";
}

} // namespace

std::string sheet_start() {
  return std::string(kDeclaration) + "<worksheet " + attr("xmlns", kSpreadsheetMl) + " " +
         attr("xmlns:r", kOfficeRelationships) + "><sheetData>\r\n";
}

std::string shared_strings_start(std::size_t count, std::size_t unique_count) {
  return std::string(kDeclaration) + "<sst " + attr("xmlns", kSpreadsheetMl) + " " +
         attr("count", std::to_string(count)) + " " +
         attr("uniqueCount", std::to_string(unique_count)) + ">\r\n";
}

std::string styles() {
  return std::string(kDeclaration) + "<styleSheet " + attr("xmlns", kSpreadsheetMl) + ">" +
         "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
         "<fills count=\"2\">"
         "<fill><patternFill patternType=\"none\"/></fill>"
         "<fill><patternFill patternType=\"gray125\"/></fill>"
         "</fills>"
         "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border>"
         "</borders>"
         "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
         "borderId=\"0\"/></cellStyleXfs>"
         "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
         "xfId=\"0\"/></cellXfs>"
         "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
         "</cellStyles>"
         "</styleSheet>";
}

std::string workbook() {
  return std::string(kDeclaration) + "<workbook " + attr("xmlns", kSpreadsheetMl) + " " +
         attr("xmlns:r", kOfficeRelationships) + ">" +
         "<sheets><sheet name=\"Hoja1\" sheetId=\"1\" r:id=\"rId1\"/></sheets>" + "</workbook>";
}

std::string workbook_relationships() {
  return relationships_start() +
         relationship("rId1", office_type("worksheet"), "worksheets/sheet1.xml") +
         relationship("rId2", office_type("styles"), "styles.xml") +
         relationship("rId3", office_type("sharedStrings"), "sharedStrings.xml") +
         "</Relationships>";
}

std::string package_relationships() {
  return relationships_start() +
         relationship("rId1", office_type("officeDocument"), "xl/workbook.xml") +
         relationship("rId2", kCorePropertiesType, "docProps/core.xml") +
         relationship("rId3", office_type("extended-properties"), "docProps/app.xml") +
         "</Relationships>";
}

std::string core_properties() {
  return std::string(kDeclaration) + "<cp:coreProperties " + attr("xmlns:cp", kCoreProperties) +
         " " + attr("xmlns:dc", kDublinCore) + " " + attr("xmlns:dcterms", kDublinCoreTerms) + " " +
         attr("xmlns:dcmitype", kDcmiType) + " " + attr("xmlns:xsi", kSchemaInstance) + ">" +
         "<dc:title>" + std::string(kTitle) + "</dc:title>" + "<dc:creator>" +
         std::string(kCreator) + "</dc:creator>" + "</cp:coreProperties>";
}

std::string app_properties() {
  return std::string(kDeclaration) + "<Properties " + attr("xmlns", kExtendedProperties) + " " +
         attr("xmlns:vt", kVariantTypes) + ">" + "<Application>" + std::string(kApplication) +
         "</Application>" + "</Properties>";
}

std::string content_types() {
  const auto override_part = [](std::string_view part, std::string_view type) {
    return "<Override " + attr("PartName", part) + " " + attr("ContentType", type) + "/>";
  };
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n") + "<Types " +
         attr("xmlns", kContentTypes) + ">" +
         "<Default Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>" +
         override_part(
             "/xl/workbook.xml",
             "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml") +
         override_part(
             "/xl/worksheets/sheet1.xml",
             "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml") +
         override_part(
             "/xl/sharedStrings.xml",
             "application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml") +
         override_part("/xl/styles.xml",
                       "application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml") +
         override_part("/docProps/core.xml",
                       "application/vnd.openxmlformats-package.core-properties+xml") +
         override_part("/docProps/app.xml",
                       "application/vnd.openxmlformats-officedocument.extended-properties+xml") +
         "</Types>";
}

} // namespace kestrova::workbook::parts
