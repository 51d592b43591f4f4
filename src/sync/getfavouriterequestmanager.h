#pragma once

#include "service/requestmanager.h"

#include <QVariantMap>

// One pull of the favourites (POST "/get_favourite/"): reports the favourites this device
// knows ({"favourites": {"<history_id>": {"favourite": v}}}) and applies the answer on the
// "data manager" queue: "delfavourites" deletes rows (and their body files once no row of
// the hash is left), "unfavourites" drops favourites the server unfavourited later, and
// "histories" merges or adds favourites (the value of larger magnitude wins; the local one
// on a tie). A favourite row left with value 0 is deleted. Ids and hashes from the server
// are checked before use. Made anew for each request and kept by its caller until the
// callback has run.
class GetFavouriteRequestManager : public TokenRequestManager {
public:
    using Callback = Completion;

    GetFavouriteRequestManager();

    QVariantMap favourites;

    QString methodURL() const override;
    void genPostData() override;
    QVariant parse(const QByteArray& data) override;
};
