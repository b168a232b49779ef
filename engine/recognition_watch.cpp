#include "engine/recognition_watch.h"

namespace mirava::engine {

RecognitionWatch::RecognitionWatch(int limit) : limit_(limit) {}

std::optional<std::string> RecognitionWatch::Count(bool recognised, bool fetched_as_organization,
                                                   const std::string& url) {
  if (recognised) {
    ++recognised_;
    in_a_row_ = 0;
    organizations_in_a_row_ = 0;
    return std::nullopt;
  }
  ++unrecognised_;
  ++in_a_row_;
  if (fetched_as_organization) {
    ++organizations_in_a_row_;
  }
  if (limit_ <= 0 || in_a_row_ < limit_) {
    return std::nullopt;
  }
  std::string text = UnrecognisedPagesText(in_a_row_, organizations_in_a_row_, url);
  in_a_row_ = 0;
  organizations_in_a_row_ = 0;
  return text;
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
