#include "engine/recognition_watch.h"

namespace mirava::engine {

RecognitionWatch::RecognitionWatch(int limit) : limit_(limit) {}

std::optional<std::string> RecognitionWatch::Count(bool recognised, bool fetched_as_organization,
                                                   const std::string& url) {
  int& kind_row = fetched_as_organization ? organization_row_ : listing_row_;
  if (recognised) {
    ++recognised_;
    in_a_row_ = 0;
    organizations_in_a_row_ = 0;
    kind_row = 0;
    return std::nullopt;
  }
  ++unrecognised_;
  ++in_a_row_;
  ++kind_row;
  if (fetched_as_organization) {
    ++organizations_in_a_row_;
  }
  if (limit_ <= 0) {
    return std::nullopt;
  }
  std::optional<std::string> text;
  if (in_a_row_ >= limit_) {
    text = UnrecognisedPagesText(in_a_row_, organizations_in_a_row_, url);
  } else if (kind_row >= limit_) {
    text = UnrecognisedPagesText(kind_row, fetched_as_organization ? kind_row : 0, url);
  }
  if (text) {
    StartAfresh();
  }
  return text;
}

void RecognitionWatch::StartAfresh() {
  in_a_row_ = 0;
  organizations_in_a_row_ = 0;
  organization_row_ = 0;
  listing_row_ = 0;
}

std::string UnrecognisedPagesText(int in_a_row, int organizations, const std::string& last_url) {
  const int listings = in_a_row - organizations;
  std::string kinds;
  if (listings == 0) {
    kinds = "страницы организаций";
  } else if (organizations == 0) {
    kinds = "страницы списков организаций";
  } else {
    kinds = "страниц организаций " + std::to_string(organizations) + ", страниц списков " +
            std::to_string(listings);
  }
  return "Страницы сайта перестали распознаваться: " + std::to_string(in_a_row) + " подряд (" +
         kinds + "), последняя: " + last_url +
         ". Возможно, сайт изменил страницы или показывает проверку «я не робот».";
}

}  // namespace mirava::engine
