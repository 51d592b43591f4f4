#pragma once

namespace webdouble {

class WebServiceDouble;

// "/set_favourite/" and "/get_favourite/" (POST, with a login token), over the clips of
// ClipRoutes: a favourite is a clip's "favourite" value there.
//
// Choices:
// - set_favourite: body {"history": clip} naming a clip by "history_id"; {"code": -4} when
//   the server has no such clip; the sent "favourite" replaces the stored one unless the
//   stored magnitude is larger; {"code": 0, "history": stored}.
// - get_favourite: body {"favourites": {"<history_id>": {"favourite": v}}}; answers
//   "delfavourites" for listed ids the server no longer has, "unfavourites" for listed ids
//   whose server value is below 0, "histories" for clips whose server value is above 0 and
//   that were not listed or were listed with another value; with "cipher".
class FavouriteRoutes {
public:
    void install(WebServiceDouble& server);

private:
    WebServiceDouble* m_server = nullptr;
};

}  // namespace webdouble
