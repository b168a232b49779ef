#include "engine/site_check.h"

namespace mirava::engine {

namespace {

// The values the readers take from an organization page, the page address and the category
// coming from the run.
bool ReadFromPage(std::size_t column) {
  return column != analysis::kLinkColumn && column != analysis::kCategoryColumn;
}

std::string ColumnList(const std::array<bool, analysis::kColumnCount>& found, bool wanted) {
  std::string text;
  for (std::size_t column = 0; column < analysis::kColumnCount; ++column) {
    if (!ReadFromPage(column) || found[column] != wanted) {
      continue;
    }
    if (!text.empty()) {
      text += ", ";
    }
    text += analysis::kColumnTitles[column];
  }
  return text.empty() ? "нет" : text;
}

const char* KindText(analysis::PageKind kind) {
  switch (kind) {
    case analysis::PageKind::Organization:
      return "страница организации";
    case analysis::PageKind::Hub:
      return "страница станций метро или районов";
    case analysis::PageKind::Listing:
      break;
  }
  return "список организаций";
}

}  // namespace

std::string SiteCheck::PageRead(const std::string& url, const analysis::PageReading& reading) {
  ++read_;
  if (!reading.Recognised) {
    ++unrecognised_;
  }
  std::string line = "Проверка: " + url + " — ";
  if (reading.Kind == analysis::PageKind::Organization) {
    ++organizations_;
    for (std::size_t column = 0; column < analysis::kColumnCount; ++column) {
      found_anywhere_[column] = found_anywhere_[column] || reading.Found[column];
    }
    line += KindText(reading.Kind);
    line += reading.Recognised ? ", распознана" : ", не распознана: нет ни названия, ни адреса";
    line += "; найдено: " + ColumnList(reading.Found, true);
    line += "; не найдено: " + ColumnList(reading.Found, false);
    return line;
  }
  if (!reading.Recognised) {
    return line + "не распознана: на странице нет ни числа организаций, ни карточек, ни ссылок";
  }
  return line + KindText(reading.Kind) + ", распознан";
}

std::string SiteCheck::Verdict() const {
  if (read_ == 0) {
    return "Проверка не удалась: ни одну страницу сайта не удалось загрузить";
  }
  std::string verdict;
  if (unrecognised_ == 0) {
    verdict = "Проверка пройдена: распознаны все страницы (" + std::to_string(read_) + ")";
  } else {
    verdict = "Проверка не пройдена: не распознаны " + std::to_string(unrecognised_) + " из " +
              std::to_string(read_) +
              " страниц. Возможно, сайт изменил страницы или показывает проверку «я не робот»";
  }
  if (organizations_ > 0) {
    const std::string missing = ColumnList(found_anywhere_, false);
    if (missing != "нет") {
      verdict += "; ни на одной странице организации не найдено: " + missing;
    }
  }
  return verdict;
}

RunOutcome SiteCheck::Outcome() const {
  if (read_ == 0) {
    return RunOutcome::Failed;
  }
  return unrecognised_ == 0 ? RunOutcome::Complete : RunOutcome::PagesUnrecognised;
}

}  // namespace mirava::engine
