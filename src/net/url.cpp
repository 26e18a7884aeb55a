// URLs as the net room takes and shows them.
#include "net/net.h"

#include <cctype>
#include <strings.h>

int net_is_url(std::string_view text)
{
	for (std::string_view scheme : {"http://", "https://"})
		if (text.size() > scheme.size() && strncasecmp(text.data(), scheme.data(), scheme.size()) == 0)
			return 1;
	return 0;
}

static std::string lower(std::string_view s)
{
	std::string out(s);
	for (char &c : out)
		c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
	return out;
}

std::string net_stripped_url(std::string_view url)
{
	const std::size_t colon = url.find("://");
	if (colon == std::string_view::npos)
		return std::string(url);
	std::string_view rest = url.substr(colon + 3);
	// The authority ends where the path, query or fragment begins; a user
	// and password end at its last "@" (a password may hold another).
	std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
	rest.remove_prefix(authority.size());
	if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos)
		authority.remove_prefix(at + 1);
	std::string_view path = rest.substr(0, rest.find_first_of("?#"));
	return lower(url.substr(0, colon)) + "://" + lower(authority) + (path.empty() ? "/" : std::string(path));
}
