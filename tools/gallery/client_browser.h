#pragma once
// The gallery's pages of the client's cloud browser and transfer list.
namespace plat {
class MessageLoop;
}

// Both windows with sample folders and transfers, in Chinese and in English, under
// <output>/client/ (failures counted in gallery::g_failures).
void ClientBrowserGallery(plat::MessageLoop& loop);
